// The suites' system needs on Windows: VirtualAlloc, the GDI handle table,
// a scratch resource module, CreateProcess, and LoadImage as the decoder.

#include "portable.h"

#include <gtest/gtest.h>
#include <winternl.h>

#include <stdexcept>

namespace kt {

struct ScopedResource::State {
  std::filesystem::path file;
  HMODULE module = nullptr;
  HINSTANCE previous = nullptr;
};

namespace {

// One entry of the GDI handle table, as 64-bit Windows (and Wine) lay it out.
struct GdiHandleEntry {
  std::uint64_t kernelObject;
  std::uint16_t processId, count, upper;  // upper: the handle's upper 16 bits
  std::uint8_t type, flags;               // type 0: a free entry
  std::uint64_t userObject;
};
static_assert(sizeof(GdiHandleEntry) == 24);
constexpr std::size_t kGdiHandleEntries = 0x10000;
// PEB::GdiSharedHandleTable on 64-bit Windows.
constexpr std::size_t kPebGdiTableOffset = 0xF8;

DWORD CountHandleTable() {
  PROCESS_BASIC_INFORMATION process{};
  if (::NtQueryInformationProcess(::GetCurrentProcess(), ProcessBasicInformation, &process,
                                  sizeof process, nullptr) != 0) {
    return 0;
  }
  const auto* peb = reinterpret_cast<const BYTE*>(process.PebBaseAddress);
  const auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + kPebGdiTableOffset);
  if (table == nullptr) return 0;
  const auto self = static_cast<std::uint16_t>(::GetCurrentProcessId());
  DWORD live = 0;
  for (std::size_t i = 0; i < kGdiHandleEntries; ++i) {
    // Wine keeps one table per process and leaves the owner 0.
    const GdiHandleEntry& e = table[i];
    if (e.type != 0 && (e.processId == 0 || e.processId == self)) ++live;
  }
  return live;
}

// GDI makes some objects of its own on first use (stock objects, the
// desktop's DC cache); make them now, so that counts compare what tests make.
void WarmUpGdi() {
  HDC memory = ::CreateCompatibleDC(nullptr);
  HBITMAP bitmap = ::CreateCompatibleBitmap(memory, 1, 1);
  ::SelectObject(memory, ::SelectObject(memory, bitmap));
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  HDC display = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ::DeleteDC(display);
  HDC window = ::GetWindowDC(::GetDesktopWindow());
  ::ReleaseDC(::GetDesktopWindow(), window);
}

// The command line that CreateProcess hands over: every word quoted (the
// suites pass no quotes, nor a backslash at a word's end).
std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = '"' + program + '"';
  for (const std::string& a : args) line.append(" \"").append(a).append("\"");
  return line;
}

HANDLE InheritableFile(const std::filesystem::path& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileA(path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A copy of the library's DLL with `bytes` as resource `id` of type 8000,
// loaded as a data file; a failure is reported and leaves state.module null.
void WriteResourceModule(ScopedResource::State& state, WORD id, const std::vector<BYTE>& bytes) {
  HMODULE library = nullptr;
  ASSERT_TRUE(::GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&AfxGetModuleState), &library));
  char self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameA(library, self, MAX_PATH), 0u);
  state.file = ScratchPath("resources", ".dll");
  std::filesystem::copy_file(self, state.file);
  const std::string file = state.file.string();
  HANDLE update = ::BeginUpdateResourceA(file.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(::UpdateResourceA(update, MAKEINTRESOURCE(8000), MAKEINTRESOURCE(id),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
  ASSERT_TRUE(::EndUpdateResourceA(update, FALSE));
  state.module = ::LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(state.module, nullptr);
}

}  // namespace

std::size_t PageSize() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwPageSize;
}

BYTE* MapPages(std::size_t bytes) {
  void* p = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (p == nullptr) throw std::runtime_error("VirtualAlloc failed");
  return static_cast<BYTE*>(p);
}

void ProtectPage(BYTE* page) {
  DWORD old = 0;
  if (!::VirtualProtect(page, PageSize(), PAGE_NOACCESS, &old)) {
    throw std::runtime_error("VirtualProtect failed");
  }
}

void UnmapPages(BYTE* base, std::size_t) { ::VirtualFree(base, 0, MEM_RELEASE); }

DWORD GdiObjects() {
  const DWORD reported = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  if (reported != 0) return reported;
  [[maybe_unused]] static const bool warm = (WarmUpGdi(), true);
  return CountHandleTable();
}

ScopedResource::ScopedResource(WORD id, const std::vector<BYTE>& bytes) : state_(new State) {
  WriteResourceModule(*state_, id, bytes);
  if (state_->module == nullptr) return;
  state_->previous = AfxGetModuleState()->m_hCurrentInstanceHandle;
  AfxGetModuleState()->m_hCurrentInstanceHandle = state_->module;
}

ScopedResource::~ScopedResource() {
  if (state_->module != nullptr) {
    AfxGetModuleState()->m_hCurrentInstanceHandle = state_->previous;
    ::FreeLibrary(state_->module);
  }
  std::error_code ignored;
  std::filesystem::remove(state_->file, ignored);
}

int RunWithOutputs(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& outPath, const std::filesystem::path& errPath) {
  const HANDLE out = InheritableFile(outPath), err = InheritableFile(errPath);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::string line = CommandLine(program, args);
  PROCESS_INFORMATION child{};
  DWORD code = 0;
  int status = -1;
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
      ::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &child)) {
    if (::WaitForSingleObject(child.hProcess, 120000) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(child.hProcess, &code)) {
      status = static_cast<int>(code);
    }
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
  }
  if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
  return status;
}

bool DecodeIndependently(const std::string& path, DecodedBitmap& out) {
  const auto bitmap = static_cast<HBITMAP>(::LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                                        LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (bitmap == nullptr) return false;
  BITMAP info{};
  ::GetObjectA(bitmap, sizeof info, &info);
  out = DecodedBitmap{info.bmWidth, info.bmHeight, {}};
  out.pixels.resize(static_cast<std::size_t>(info.bmWidth) *
                    static_cast<std::size_t>(info.bmHeight));
  BITMAPINFO request{};
  request.bmiHeader = BITMAPINFOHEADER{
      sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC dc = ::CreateCompatibleDC(nullptr);
  const int lines = ::GetDIBits(dc, bitmap, 0, static_cast<UINT>(info.bmHeight), out.pixels.data(),
                                &request, DIB_RGB_COLORS);
  ::DeleteDC(dc);
  ::DeleteObject(bitmap);
  for (std::uint32_t& p : out.pixels) p &= 0xFFFFFF;
  return lines == info.bmHeight;
}

const char* AtExitBlindSpot() {
  return "a DLL's static objects are destroyed when it is detached, after every std::atexit "
         "handler of the program has run";
}

std::string FullDevice() { return {}; }

struct QuietPipe::State {
  std::string path;
  HANDLE server = INVALID_HANDLE_VALUE;
};

QuietPipe::QuietPipe(bool) : state_(new State) {
  state_->path = "\\\\.\\pipe\\" + ScratchPath("pipe").filename().string();
  // One instance, listening: a client's open connects at once, and its reads
  // wait for bytes that never come.
  state_->server = ::CreateNamedPipeA(state_->path.c_str(), PIPE_ACCESS_OUTBOUND,
                                      PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
  EXPECT_NE(state_->server, INVALID_HANDLE_VALUE) << state_->path;
}

QuietPipe::~QuietPipe() { Release(); }

const char* QuietPipe::path() const { return state_->path.c_str(); }

void QuietPipe::Release() {
  // A pipe without its server is broken: a waiting read fails.
  if (state_->server != INVALID_HANDLE_VALUE) ::CloseHandle(state_->server);
  state_->server = INVALID_HANDLE_VALUE;
}

}  // namespace kt
