// Counts of what a test process holds, for tests that check nothing grows: GDI and USER
// objects, kernel handles and memory. Wine 8 answers GetGuiResources and GetProcessHandleCount with 0,
// so where they do the counts come from probing the handle tables.
#pragma once

#include <windows.h>

DWORD GdiObjects();
DWORD UserObjects();
DWORD KernelHandles();

// The busy bytes of every heap of the process (the C runtime keeps its own): a finer view
// than the committed total.
SIZE_T BusyHeapBytes();
// The process's commit charge; Wine 8 fills only PagefileUsage.
SIZE_T PrivateBytes();
