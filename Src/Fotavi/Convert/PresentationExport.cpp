#include "PresentationExport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <QString>
#include <QUrl>
#include <poppler-qt6.h>

#include "Common/CommonFunc.h"
#include "Common/RegularFile.h"
#include "Platform/Paths.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// How long a killed process group may take to disappear.
constexpr auto kKillWait = std::chrono::seconds(5);

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The program's full path: itself when it names a path, else the first
// match in PATH; "" when there is none.
std::string FindProgram(const std::string& program) {
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) return IsExecutableFile(program) ? program : std::string();
  const char* pathEnv = std::getenv("PATH");
  std::string paths = pathEnv ? pathEnv : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= paths.size()) {
    size_t end = paths.find(':', start);
    if (end == std::string::npos) end = paths.size();
    std::string dir = paths.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

// Removes everything inside a folder, keeping the folder.
void EmptyFolder(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      DeleteFolder(path);
    } else {
      ::unlink(path.c_str());
    }
  }
}

std::string FindPdf(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return {};
  std::string found;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0) {
      found = folder + "/" + name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// Kills the child's whole process group and reaps the child; waits (with a
// limit) until no member of the group is left.
void KillGroup(pid_t pid) {
  ::kill(-pid, SIGKILL);
  const auto deadline = Clock::now() + kKillWait;
  bool reaped = false;
  while (Clock::now() < deadline) {
    if (!reaped) {
      int status = 0;
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid || (r < 0 && errno == ECHILD)) reaped = true;
    }
    if (reaped && ::kill(-pid, 0) != 0 && errno == ESRCH) return;
    std::this_thread::sleep_for(kPollInterval);
  }
}

}  // namespace

CPresentationExport::CPresentationExport(std::string folder) : m_strFolder(std::move(folder)) {
  while (m_strFolder.size() > 1 && m_strFolder.back() == '/') m_strFolder.pop_back();
}

CPresentationExport::~CPresentationExport() {
  Close();
  // The profile is kept for the next program run; nothing else is.
  if (!m_strFolder.empty()) {
    DeleteFolder(GetTempFolder());
    DeleteFolder(GetPdfFolder());
  }
}

std::string CPresentationExport::GetProfileFolder() const { return m_strFolder + "/LO_PROFILE"; }
std::string CPresentationExport::GetTempFolder() const { return m_strFolder + "/LO_TEMP"; }
std::string CPresentationExport::GetPdfFolder() const { return m_strFolder + "/LO_PDF"; }

bool CPresentationExport::IsAvailable() const { return !FindProgram(m_strProgram).empty(); }

void CPresentationExport::CleanStaleFiles() const {
  ::unlink((GetProfileFolder() + "/.lock").c_str());
  ::unlink((GetProfileFolder() + "/user/.lock").c_str());
  EmptyFolder(GetTempFolder());
}

CPresentationExport::OpenResult CPresentationExport::Open(const std::string& path,
                                                          const std::atomic<LONG>* running) {
  Close();
  // soffice would wait for ever on a FIFO named like a presentation: only a
  // regular file is handed to it.
  const int source = OpenRegularFile(path);
  if (source < 0) return OPEN_FAILED;
  ::close(source);
  const std::string program = FindProgram(m_strProgram);
  if (program.empty() || m_strFolder.empty()) return OPEN_NOT_STARTED;
  if (!MakeFolders(GetProfileFolder(), 0700) || !MakeFolders(GetTempFolder(), 0700) ||
      !MakeFolders(GetPdfFolder(), 0700)) {
    return OPEN_NOT_STARTED;
  }
  // The folder belongs to this program alone (one instance at a time), so a
  // lock left in its profile is always stale.
  CleanStaleFiles();
  EmptyFolder(GetPdfFolder());

  std::string sourcePath = path;
  if (sourcePath.front() != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return OPEN_FAILED;
    sourcePath = std::string(cwd) + "/" + sourcePath;
  }
  const std::string profileUrl =
      QUrl::fromLocalFile(QString::fromStdString(GetProfileFolder())).toString(QUrl::FullyEncoded).toStdString();

  std::vector<std::string> args = {program,
                                   "--headless",
                                   "--norestore",
                                   "--nologo",
                                   "--nodefault",
                                   "-env:UserInstallation=" + profileUrl,
                                   "--convert-to",
                                   PDF_FILTER,
                                   "--outdir",
                                   GetPdfFolder(),
                                   sourcePath};
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    if (std::strncmp(*e, "TMPDIR=", 7) == 0 || std::strncmp(*e, "TMP=", 4) == 0 || std::strncmp(*e, "TEMP=", 5) == 0)
      continue;
    env.emplace_back(*e);
  }
  env.push_back("TMPDIR=" + GetTempFolder());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return OPEN_NOT_STARTED;

  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(m_nTimeLimitMs, 0));
  OpenResult result = OPEN_OK;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno == ECHILD) break;  // reaped elsewhere (SIGCHLD ignored): judged by its PDF
    if (r < 0 && errno != EINTR) {
      KillGroup(pid);
      CleanStaleFiles();
      EmptyFolder(GetPdfFolder());
      return OPEN_FAILED;
    }
    if (running && running->load() == 0) {
      result = OPEN_CANCELED;
      break;
    }
    if (Clock::now() >= deadline) {
      result = OPEN_TIMED_OUT;
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  if (result == OPEN_CANCELED || result == OPEN_TIMED_OUT) {
    KillGroup(pid);
    CleanStaleFiles();
    EmptyFolder(GetPdfFolder());
    return result;
  }
  EmptyFolder(GetTempFolder());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return OPEN_NOT_STARTED;

  const std::string pdf = FindPdf(GetPdfFolder());
  if (pdf.empty()) return OPEN_FAILED;
  std::unique_ptr<Poppler::Document> document = Poppler::Document::load(QString::fromStdString(pdf));
  if (!document || document->isLocked()) {
    EmptyFolder(GetPdfFolder());
    return OPEN_FAILED;
  }
  document->setRenderHint(Poppler::Document::Antialiasing, true);
  document->setRenderHint(Poppler::Document::TextAntialiasing, true);
  m_pDocument = std::move(document);
  return OPEN_OK;
}

int CPresentationExport::GetSlideCount() const { return m_pDocument ? m_pDocument->numPages() : 0; }

CBitmap24 CPresentationExport::RenderSlide(int index, int width, int height) const {
  if (!m_pDocument || index < 1 || index > m_pDocument->numPages() || width <= 0 || height <= 0) return {};
  std::unique_ptr<Poppler::Page> page = m_pDocument->page(index - 1);
  if (!page) return {};
  const QSizeF points = page->pageSizeF();
  if (points.width() <= 0 || points.height() <= 0) return {};
  // Separate resolutions across and down stretch the page to fill the
  // picture whatever its shape (a 16:9 slide fills a 4:3 picture).
  const double xres = width * 72.0 / points.width();
  const double yres = height * 72.0 / points.height();
  QImage image = page->renderToImage(xres, yres, 0, 0, width, height);
  if (image.isNull()) return {};
  if (image.width() != width || image.height() != height) {
    image = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return ToBitmap24(image);
}

void CPresentationExport::Close() {
  if (!m_pDocument) return;
  m_pDocument.reset();
  EmptyFolder(GetPdfFolder());
}
