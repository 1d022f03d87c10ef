// The DLL watcher: a load notification that rewrites the DLL's import table before its entry
// point runs, the replacement shell functions that record and pass on, and the icon matching.
#include "tools/dll_watch/dll_watch.h"

#include "framework/unique_handle.h"
#include "res/resource.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// The loader's notification interface, exported by ntdll but declared by no mingw header.
struct LoaderUnicodeString {
    USHORT Length;  // bytes
    USHORT MaximumLength;
    PWSTR Buffer;
};
struct LoaderNotificationData {
    ULONG Flags;
    const LoaderUnicodeString* FullDllName;
    const LoaderUnicodeString* BaseDllName;
    PVOID DllBase;
    ULONG SizeOfImage;
};
constexpr ULONG kDllLoaded = 1;
using LoaderNotificationFunction = void(CALLBACK*)(ULONG reason, const void* data, void* context);
using RegisterNotification = LONG(NTAPI*)(ULONG flags, LoaderNotificationFunction function, void* context,
                                          void** cookie);
using UnregisterNotification = LONG(NTAPI*)(void* cookie);

// A successful ShellExecute answers a value above 32.
const HINSTANCE kOpenedWithoutForwarding = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));

// The one watch the replacement functions report to, and the functions they pass calls on to.
// The real functions start as the host's own imports and become whatever the DLL's table held.
std::atomic<DllWatch*> g_active{nullptr};
decltype(&::Shell_NotifyIconA) g_realNotifyIcon = &::Shell_NotifyIconA;
decltype(&::ShellExecuteA) g_realShellExecute = &::ShellExecuteA;

struct ImportRow {
    const char* module;
    const char* function;
    void* replacement;
    void** real;
};

bool EqualsIgnoringAsciiCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

std::wstring BaseNameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const int length = ::MultiByteToWideChar(CP_ACP, 0, base.c_str(), static_cast<int>(base.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_ACP, 0, base.c_str(), static_cast<int>(base.size()), wide.data(), length);
    return wide;
}

// Text of a fixed record field that may lack its terminator.
template <std::size_t N>
std::string FieldText(const char (&field)[N])
{
    return std::string(field, ::strnlen(field, N));
}

std::optional<std::string> OptionalText(LPCSTR text)
{
    return text ? std::optional<std::string>(text) : std::nullopt;
}

bool ModuleIsMapped(HMODULE module)
{
    HMODULE found = nullptr;
    return ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(module), &found) &&
           found == module;
}

// The bitmap's pixels as 32-bit top-down rows, the same form whatever the bitmap's own depth.
std::optional<std::vector<std::uint8_t>> ReadBitmap(HDC dc, HBITMAP bitmap)
{
    BITMAP description{};
    if (!bitmap || ::GetObjectA(bitmap, sizeof(description), &description) != sizeof(description) ||
        description.bmWidth <= 0 || description.bmHeight <= 0)
        return std::nullopt;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = description.bmWidth;
    info.bmiHeader.biHeight = -description.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(description.bmWidth) * description.bmHeight * 4);
    if (::GetDIBits(dc, bitmap, 0, static_cast<UINT>(description.bmHeight), pixels.data(), &info, DIB_RGB_COLORS) !=
        description.bmHeight)
        return std::nullopt;
    return pixels;
}

}  // namespace

std::vector<void**> ImportSlots(HMODULE module, const char* dll, const char* function)
{
    std::vector<void**> found;
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return found;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return found;
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return found;
    const HMODULE exporter = ::GetModuleHandleA(dll);
    const FARPROC exported = exporter ? ::GetProcAddress(exporter, function) : nullptr;
    for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        if (!EqualsIgnoringAsciiCase(reinterpret_cast<const char*>(base + import->Name), dll))
            continue;
        // Bound entries no longer name their function; without the name table, match addresses.
        const auto* names = import->OriginalFirstThunk
                                ? reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk)
                                : nullptr;
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (std::size_t i = 0; slots[i].u1.Function != 0; ++i) {
            bool match = false;
            if (names && !IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) {
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
                match = std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0;
            } else {
                match = exported && slots[i].u1.Function == reinterpret_cast<ULONG_PTR>(exported);
            }
            if (match)
                found.push_back(reinterpret_cast<void**>(&slots[i].u1.Function));
        }
    }
    return found;
}

void* PatchImportSlot(void** slot, void* function)
{
    DWORD protection = 0;
    if (!::VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection))
        return nullptr;
    void* const previous = *slot;
    *slot = function;
    ::VirtualProtect(slot, sizeof(*slot), protection, &protection);
    return previous;
}

std::unique_ptr<DllWatch> DllWatch::Load(const std::string& path, const DllWatchOptions& options)
{
    if (g_active.load() != nullptr || ::GetModuleHandleA(path.c_str()) != nullptr)
        return nullptr;
    std::unique_ptr<DllWatch> watch(new DllWatch(options));
    watch->m_baseName = BaseNameOf(path);
    g_active = watch.get();

    // Looked up at run time: the notification interface is ntdll's own, not in any import library.
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto registerNotification =
        reinterpret_cast<RegisterNotification>(::GetProcAddress(ntdll, "LdrRegisterDllNotification"));
    const auto unregisterNotification =
        reinterpret_cast<UnregisterNotification>(::GetProcAddress(ntdll, "LdrUnregisterDllNotification"));
    void* cookie = nullptr;
    if (registerNotification && unregisterNotification &&
        registerNotification(0, &DllWatch::OnLoaderNotification, watch.get(), &cookie) < 0)
        cookie = nullptr;

    const HMODULE module = ::LoadLibraryA(path.c_str());
    if (cookie)
        unregisterNotification(cookie);
    if (!module)
        return nullptr;
    watch->m_loaded = true;
    if (watch->m_module != module) {
        // No notification, or one for another module of the same name: the start-up went unseen.
        watch->m_watchedFromStart = false;
        watch->m_module = module;
        watch->PatchImports(module);
    }
    return watch;
}

DllWatch::~DllWatch()
{
    if (m_loaded)
        Unload();
    if (m_module && ModuleIsMapped(m_module))
        RestoreImports();
    g_active = nullptr;
}

bool DllWatch::Unload()
{
    if (!m_loaded)
        return !ModuleIsMapped(m_module);
    m_loaded = false;
    ::FreeLibrary(m_module);
    return !ModuleIsMapped(m_module);
}

std::vector<WatchedCall> DllWatch::Events() const
{
    std::lock_guard<std::mutex> lock(m_eventsLock);
    return m_events;
}

void DllWatch::ClearEvents()
{
    std::lock_guard<std::mutex> lock(m_eventsLock);
    m_events.clear();
}

void DllWatch::SetCallback(Callback callback)
{
    std::lock_guard<std::mutex> lock(m_eventsLock);
    m_callback = std::move(callback);
}

void DllWatch::Record(WatchedCall call)
{
    Callback callback;
    {
        std::lock_guard<std::mutex> lock(m_eventsLock);
        m_events.push_back(call);
        callback = m_callback;
    }
    // Outside the lock: the callback may read the events.
    if (callback)
        callback(call);
}

void CALLBACK DllWatch::OnLoaderNotification(ULONG reason, const void* data, void* context)
{
    // Runs under the loader lock, after the DLL's imports are bound and before its entry point.
    auto* watch = static_cast<DllWatch*>(context);
    const auto* loaded = static_cast<const LoaderNotificationData*>(data);
    if (reason != kDllLoaded || !loaded || !loaded->BaseDllName || !loaded->BaseDllName->Buffer || watch->m_module)
        return;
    const std::wstring base(loaded->BaseDllName->Buffer, loaded->BaseDllName->Length / sizeof(wchar_t));
    if (::lstrcmpiW(base.c_str(), watch->m_baseName.c_str()) != 0)
        return;
    watch->m_module = static_cast<HMODULE>(loaded->DllBase);
    watch->m_watchedFromStart = true;
    watch->PatchImports(watch->m_module);
}

void DllWatch::PatchImports(HMODULE module)
{
    const ImportRow rows[] = {
        {"shell32.dll", "Shell_NotifyIconA", reinterpret_cast<void*>(&NotifyIconHook),
         reinterpret_cast<void**>(&g_realNotifyIcon)},
        {"shell32.dll", "ShellExecuteA", reinterpret_cast<void*>(&ShellExecuteHook),
         reinterpret_cast<void**>(&g_realShellExecute)},
    };
    for (const ImportRow& row : rows) {
        for (void** slot : ImportSlots(module, row.module, row.function)) {
            void* const original = PatchImportSlot(slot, row.replacement);
            if (original == nullptr)
                continue;
            m_patched.push_back({slot, original});
            *row.real = original;
        }
    }
}

void DllWatch::RestoreImports()
{
    for (const PatchedSlot& patched : m_patched)
        PatchImportSlot(patched.slot, patched.original);
    m_patched.clear();
}

NotifyIconCall ReadNotifyIconCall(DWORD message, const NOTIFYICONDATAA* data)
{
    NotifyIconCall call;
    call.message = message;
    if (!data)
        return call;
    NOTIFYICONDATAA copy{};
    std::memcpy(&copy, data, std::min<std::size_t>(data->cbSize, sizeof(copy)));
    call.hasData = true;
    call.cbSize = data->cbSize;
    call.hWnd = copy.hWnd;
    call.uID = copy.uID;
    call.uFlags = copy.uFlags;
    call.uCallbackMessage = copy.uCallbackMessage;
    call.hIcon = copy.hIcon;
    call.szTip = FieldText(copy.szTip);
    call.szInfo = FieldText(copy.szInfo);
    call.uTimeout = copy.uTimeout;
    call.szInfoTitle = FieldText(copy.szInfoTitle);
    call.dwInfoFlags = copy.dwInfoFlags;
    return call;
}

BOOL WINAPI DllWatch::NotifyIconHook(DWORD message, PNOTIFYICONDATAA data)
{
    if (DllWatch* watch = g_active.load()) {
        NotifyIconCall call = ReadNotifyIconCall(message, data);
        if (call.hasData)
            call.icon = watch->Identify(call.hIcon);
        watch->Record({std::chrono::steady_clock::now(), std::move(call)});
    }
    return g_realNotifyIcon(message, data);
}

HINSTANCE WINAPI DllWatch::ShellExecuteHook(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                            LPCSTR directory, INT show)
{
    DllWatch* watch = g_active.load();
    if (watch) {
        ShellExecuteCall call{owner, OptionalText(verb), OptionalText(file), OptionalText(parameters),
                              OptionalText(directory), show};
        watch->Record({std::chrono::steady_clock::now(), std::move(call)});
        if (!watch->m_options.forwardShellExecute)
            return kOpenedWithoutForwarding;
    }
    return g_realShellExecute(owner, verb, file, parameters, directory, show);
}

std::optional<DllWatch::IconBits> DllWatch::ReadIcon(HICON icon, SIZE& size)
{
    ICONINFO info{};
    if (!icon || !::GetIconInfo(icon, &info))
        return std::nullopt;
    const unique_hbitmap color(info.hbmColor);
    const unique_hbitmap mask(info.hbmMask);
    const unique_hdc dc(::CreateCompatibleDC(nullptr));
    BITMAP description{};
    if (!dc || ::GetObjectA(color ? color.get() : mask.get(), sizeof(description), &description) != sizeof(description))
        return std::nullopt;
    // A monochrome icon keeps its picture and its mask one above the other in the mask bitmap.
    size = {description.bmWidth, color ? description.bmHeight : description.bmHeight / 2};

    IconBits bits;
    if (color) {
        auto pixels = ReadBitmap(dc.get(), color.get());
        if (!pixels)
            return std::nullopt;
        bits.color = std::move(*pixels);
    }
    auto pixels = ReadBitmap(dc.get(), mask.get());
    if (!pixels)
        return std::nullopt;
    bits.mask = std::move(*pixels);
    return bits;
}

IconPicture DllWatch::Identify(HICON icon)
{
    if (!icon)
        return IconPicture::None;
    SIZE size{};
    const std::optional<IconBits> bits = ReadIcon(icon, size);
    if (!bits)
        return IconPicture::Other;
    const ReferencePictures& references = ReferencesAt(size);
    if (references.found && *references.found == *bits)
        return IconPicture::Found;
    if (references.idle && *references.idle == *bits)
        return IconPicture::Idle;
    return IconPicture::Other;
}

const DllWatch::ReferencePictures& DllWatch::ReferencesAt(SIZE size)
{
    const auto key = std::make_pair(size.cx, size.cy);
    if (const auto cached = m_references.find(key); cached != m_references.end())
        return cached->second;
    ReferencePictures pictures;
    // Without the module nothing can be compared, and nothing is kept for later either.
    if (!m_module || !ModuleIsMapped(m_module))
        return m_noReferences;
    // Private copies at the icon's size, not the shared handles the DLL may hold: handles of
    // two loads need not be equal.
    for (const int id : {IDI_FOUND, IDI_IDLE}) {
        const unique_hicon reference(static_cast<HICON>(
            ::LoadImageA(m_module, MAKEINTRESOURCEA(id), IMAGE_ICON, size.cx, size.cy, LR_DEFAULTCOLOR)));
        SIZE referenceSize{};
        (id == IDI_FOUND ? pictures.found : pictures.idle) = ReadIcon(reference.get(), referenceSize);
    }
    return m_references.emplace(key, std::move(pictures)).first->second;
}
