// Reads a dialog template of the module back from its resource, so that tests can compare it
// with what the dialog must look like, in dialog units and style bits.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TemplateItem {
    int id;
    std::string windowClass;  // in lower case, predefined classes by name ("button", "edit", ...)
    std::string text;
    short x, y, cx, cy;
    DWORD style;
};

struct DialogTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::string caption;
    WORD pointSize = 0;
    std::string typeface;
    std::vector<TemplateItem> items;
};

// Only extended templates (DIALOGEX) are read; false for anything else.
bool ReadDialogTemplate(UINT id, DialogTemplate& out);

// Expects the controls one for one, each with every field, in their order.
void ExpectControls(const std::vector<TemplateItem>& items, const std::vector<TemplateItem>& expected);

// Reads the template and expects it whole: its frame (caption, font, size, style) and its
// controls as ExpectControls does.
void ExpectDialogTemplate(UINT id, const DialogTemplate& expected);
