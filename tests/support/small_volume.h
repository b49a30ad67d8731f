// A volume of a few megabytes for one test: a tmpfs mounted on a folder,
// which needs root. Under Wine the Windows test starts /bin/sh to mount it,
// Wine starting Unix programs as it starts its own. Wine shows a mount
// point as a link that the running account made, which the installer does
// not go through: the volume is reached as a drive of its own instead, as
// a volume is on Windows.
#pragma once

#include <errno.h>
#include <string.h>

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>
#endif

namespace testing_support {

class SmallVolume {
 public:
  // folder exists and is empty.
  SmallVolume(std::filesystem::path folder, int megabytes) : folder_(std::move(folder)) {
    const std::string options = "size=" + std::to_string(megabytes) + "m,mode=755";
#ifdef _WIN32
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'q'; letter <= 'y' && path_.empty(); ++letter) {
      if (!(drives & (1u << (letter - 'a')))) path_ = std::string(1, letter) + ":\\";
    }
    failure_ = Shell("mount -t tmpfs -o " + options + " quorvex-test '" + UnixName() +
                     "' && ln -s '" + UnixName() + "' $WINEPREFIX/dosdevices/" + Drive());
#else
    path_ = folder_.string();
    if (mount("quorvex-test", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      failure_ = strerror(errno);
    }
#endif
    mounted_ = failure_.empty();
    if (!mounted_) path_.clear();
  }
  ~SmallVolume() {
#ifdef _WIN32
    Shell("rm -f $WINEPREFIX/dosdevices/" + Drive() + "; umount -l '" + UnixName() + "'");
#else
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
#endif
  }
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;

  // Empty when the volume is there; otherwise why not.
  const std::string& Failure() const { return failure_; }
  // The volume's top as the program under test names it: the folder
  // natively, a drive's root under Wine.
  const std::string& Path() const { return path_; }

 private:
#ifdef _WIN32
  std::string Drive() const { return path_.substr(0, 2); }
  std::string UnixName() const {
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto convert = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert ? convert(folder_.wstring().c_str()) : nullptr;
    if (!name) return folder_.string();
    std::string unix(name);
    HeapFree(GetProcessHeap(), 0, name);
    return unix;
  }
  // Runs command in /bin/sh and waits for the status it leaves beside the
  // folder: no process handle comes back for a Unix program. Empty when it
  // succeeded.
  std::string Shell(const std::string& command) const {
    const std::filesystem::path status = folder_.string() + ".status";
    std::error_code error;
    std::filesystem::remove(status, error);
    std::string line = "Z:\\bin\\sh -c \"" + command + " 2>&1 | head -c 200 >'" + UnixName() +
                       ".out'; echo done >'" + UnixName() + ".status'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      return "/bin/sh cannot be started (error " + std::to_string(GetLastError()) + ")";
    }
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    for (int wait = 0; wait < 600 && !std::filesystem::exists(status, error); ++wait) Sleep(50);
    std::filesystem::remove(status, error);
    std::string output;
    if (FILE* file = _wfopen((folder_.wstring() + L".out").c_str(), L"rb")) {
      char buffer[256];
      output.assign(buffer, fread(buffer, 1, sizeof buffer, file));
      fclose(file);
    }
    std::filesystem::remove(folder_.string() + ".out", error);
    return output;
  }
#endif

  std::filesystem::path folder_;
  std::string failure_;
  std::string path_;
  bool mounted_ = false;
};

}  // namespace testing_support
