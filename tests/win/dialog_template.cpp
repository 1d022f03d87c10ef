// A reader of extended dialog templates (DLGTEMPLATEEX and its items).
#include "tests/win/dialog_template.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <tuple>

#include "framework/module.h"
#include "framework/narrow_text.h"

namespace {

class TemplateReader {
public:
    TemplateReader(const BYTE* data, DWORD size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }

    template <typename T>
    T read()
    {
        T value{};
        if (m_pos + sizeof(T) > m_size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }

    std::string readText()
    {
        std::wstring text;
        for (WORD c; m_ok && (c = read<WORD>()) != 0;)
            text += static_cast<wchar_t>(c);
        return NarrowFromWide(text.c_str());
    }

    // A name or, after 0xFFFF, an ordinal.
    std::string readNameOrOrdinal()
    {
        const DWORD start = m_pos;
        if (read<WORD>() == 0xFFFF)
            return "#" + std::to_string(read<WORD>());
        m_pos = start;
        return readText();
    }

    void alignTo(DWORD boundary) { m_pos = (m_pos + boundary - 1) / boundary * boundary; }
    void skip(DWORD bytes) { m_pos += bytes; }

private:
    const BYTE* m_data;
    DWORD m_size;
    DWORD m_pos = 0;
    bool m_ok = true;
};

// Class names compare without regard to case; they come back in lower case.
std::string ClassName(const std::string& name)
{
    static const char* const kPredefined[] = {"button", "edit", "static", "listbox", "scrollbar", "combobox"};
    for (int ordinal = 0x80; ordinal <= 0x85; ++ordinal) {
        if (name == "#" + std::to_string(ordinal))
            return kPredefined[ordinal - 0x80];
    }
    std::string lower = name;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

bool ReadDialogTemplate(UINT id, DialogTemplate& out)
{
    const HRSRC resource = ::FindResourceA(ModuleInstance(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    const HGLOBAL loaded = resource ? ::LoadResource(ModuleInstance(), resource) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    if (data == nullptr)
        return false;
    TemplateReader reader(data, ::SizeofResource(ModuleInstance(), resource));

    if (reader.read<WORD>() != 1 || reader.read<WORD>() != 0xFFFF)
        return false;
    reader.read<DWORD>();  // help id
    reader.read<DWORD>();  // extended style
    out.style = reader.read<DWORD>();
    const WORD count = reader.read<WORD>();
    reader.read<short>();
    reader.read<short>();
    out.cx = reader.read<short>();
    out.cy = reader.read<short>();
    reader.readNameOrOrdinal();  // menu
    reader.readNameOrOrdinal();  // class
    out.caption = reader.readText();
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = reader.read<WORD>();
        reader.read<WORD>();  // weight
        reader.read<BYTE>();  // italic
        reader.read<BYTE>();  // character set
        out.typeface = reader.readText();
    }
    out.items.clear();
    for (WORD i = 0; i < count && reader.ok(); ++i) {
        reader.alignTo(4);
        TemplateItem item{};
        reader.read<DWORD>();  // help id
        reader.read<DWORD>();  // extended style
        item.style = reader.read<DWORD>();
        item.x = reader.read<short>();
        item.y = reader.read<short>();
        item.cx = reader.read<short>();
        item.cy = reader.read<short>();
        item.id = static_cast<int>(reader.read<DWORD>());
        item.windowClass = ClassName(reader.readNameOrOrdinal());
        item.text = reader.readNameOrOrdinal();
        reader.skip(reader.read<WORD>());  // creation data
        out.items.push_back(item);
    }
    return reader.ok();
}

void ExpectControls(const std::vector<TemplateItem>& items, const std::vector<TemplateItem>& expected)
{
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TemplateItem& item = items[i];
        const TemplateItem& want = expected[i];
        EXPECT_EQ(std::make_tuple(item.id, item.windowClass, item.text, item.x, item.y, item.cx, item.cy, item.style),
                  std::make_tuple(want.id, want.windowClass, want.text, want.x, want.y, want.cx, want.cy, want.style))
            << "control " << i;
    }
}

void ExpectDialogTemplate(UINT id, const DialogTemplate& expected)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ReadDialogTemplate(id, dialog));
    EXPECT_EQ(dialog.caption, expected.caption);
    EXPECT_EQ(dialog.typeface, expected.typeface);
    EXPECT_EQ(dialog.pointSize, expected.pointSize);
    EXPECT_EQ(dialog.cx, expected.cx);
    EXPECT_EQ(dialog.cy, expected.cy);
    EXPECT_EQ(dialog.style, expected.style);
    ExpectControls(dialog.items, expected.items);
}
