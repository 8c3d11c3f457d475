#include "delivery/ftp_client.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "base/log_file.h"
#include "base/process.h"
#include "delivery/socket_client.h"

namespace qmr {

namespace {

struct CurlDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One path segment of a URL, escaped.
std::string Escape(CURL* easy, const std::string& segment) {
  char* escaped = curl_easy_escape(easy, segment.data(), static_cast<int>(segment.size()));
  if (escaped == nullptr) return std::string();
  std::string result(escaped);
  curl_free(escaped);
  return result;
}

}  // namespace

struct FtpClient::Impl {
  std::unique_ptr<CURL, CurlDeleter> easy;
  std::string baseUrl;     // "ftp://host:port"
  std::string path = "/";  // escaped URL path of the current remote directory
  bool connected = false;
  std::string lastResponse;
  int connectSeconds = 30;
  int idleSeconds = 60;

  int mode = kPassiveThenActive;
  int security = kSecurityNone;
  bool verify = true;
  bool active = false;    // the data connection mode in use
  std::string lastError;  // curl's words for the last failure

  // Transfer state of the current upload.
  FILE* source = nullptr;
  bool readCalled = false;
  const std::atomic<bool>* cancel = nullptr;

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    Impl* impl = static_cast<Impl*>(self);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) impl->lastResponse = line;
    return size * count;
  }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* self) {
    Impl* impl = static_cast<Impl*>(self);
    impl->readCalled = true;
    if (impl->source == nullptr) return 0;
    const size_t n = std::fread(buffer, 1, size * count, impl->source);
    if (n == 0 && std::ferror(impl->source)) return CURL_READFUNC_ABORT;
    return n;
  }

  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    Impl* impl = static_cast<Impl*>(self);
    const bool cancelled = impl->cancel != nullptr && impl->cancel->load();
    // With a cancel flag the owner decides when to give up (a quit lets
    // the upload in hand finish); without one a stop request ends it.
    if (impl->cancel != nullptr) return cancelled ? 1 : 0;
    return StopFlag.load() != 0 ? 1 : 0;
  }

  // Options common to every step; the easy handle keeps its connection
  // between steps.
  void Prepare(const std::string& url) {
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // Never a proxy, whatever ftp_proxy or all_proxy say: an FTP proxy would
    // see the user name and password in clear.
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_FTPPORT, active ? "-" : nullptr);
    curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, 0L);  // binary
    curl_easy_setopt(e, CURLOPT_USE_SSL,
                     security == kSecurityNone ? static_cast<long>(CURLUSESSL_NONE)
                                               : static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    const char* trust = std::getenv("SSL_CERT_FILE");
    if (trust != nullptr && *trust != '\0') curl_easy_setopt(e, CURLOPT_CAINFO, trust);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    errorText[0] = '\0';
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectSeconds));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(idleSeconds));
    curl_easy_setopt(e, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(idleSeconds) * 1000L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(idleSeconds));
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
  }

  // Logs in (first time) and changes into the directory of url, sending no
  // file.
  bool Visit(const std::string& url) {
    Prepare(url);
    curl_easy_setopt(easy.get(), CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy.get(), CURLOPT_NOBODY, 1L);
    return Finish(curl_easy_perform(easy.get())) == CURLE_OK;
  }

  CURLcode Finish(CURLcode result) {
    if (result != CURLE_OK) {
      lastError = errorText[0] != '\0' ? std::string(errorText) : curl_easy_strerror(result);
    }
    return result;
  }

  char errorText[CURL_ERROR_SIZE] = {};
};

// Failures that mean the server or the network refused the passive data
// connection, before any byte of the file was sent.
bool PassiveRefused(CURLcode result) {
  return result == CURLE_FTP_WEIRD_PASV_REPLY || result == CURLE_FTP_WEIRD_227_FORMAT ||
         result == CURLE_FTP_CANT_GET_HOST || result == CURLE_COULDNT_CONNECT ||
         result == CURLE_FTP_ACCEPT_TIMEOUT || result == CURLE_OPERATION_TIMEDOUT;
}

FtpClient::FtpClient() : impl_(std::make_unique<Impl>()) { GlobalInit(); }

void FtpClient::SetOptions(int mode, int security, bool verify) {
  impl_->mode = mode == kActive || mode == kPassive ? mode : kPassiveThenActive;
  impl_->security = security == kSecurityExplicitTls || security == kSecurityImplicitTls
                        ? security
                        : kSecurityNone;
  impl_->verify = verify;
}

std::string FtpClient::LastResponse() const {
  return impl_->lastResponse.empty() ? impl_->lastError : impl_->lastResponse;
}

FtpClient::~FtpClient() = default;

void FtpClient::SetTimeouts(int connectSeconds, int idleSeconds) {
  impl_->connectSeconds = connectSeconds;
  impl_->idleSeconds = idleSeconds;
}

bool FtpClient::Connect(const std::string& server, const std::string& user,
                        const std::string& password) {
  impl_->connected = false;
  impl_->path.assign(1, '/');  // gcc 12 -O3: false -Wrestrict on a literal
  impl_->lastResponse.clear();
  impl_->lastError.clear();
  impl_->active = impl_->mode == kActive;
  // A new handle drops any earlier connection.
  impl_->easy.reset(curl_easy_init());
  if (!impl_->easy) return false;
  impl_->cancel = cancel_;
  std::string host;
  const bool implicitTls = impl_->security == kSecurityImplicitTls;
  int port = implicitTls ? kImplicitTlsPort : kDefaultPort;
  if (!SplitHostPort(server, host, port)) return false;
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  impl_->baseUrl =
      std::string(implicitTls ? "ftps://" : "ftp://") + host + ":" + std::to_string(port);
  CURL* e = impl_->easy.get();
  curl_easy_setopt(e, CURLOPT_USERNAME, user.c_str());
  curl_easy_setopt(e, CURLOPT_PASSWORD, password.c_str());
  if (impl_->Visit(impl_->baseUrl + "/")) {
    impl_->connected = true;
    return true;
  }
  if (!impl_->lastResponse.empty()) LogFile::Write(impl_->lastResponse);
  // A refused TLS session, certificate or name leaves no server response.
  if (impl_->security != kSecurityNone) LogFile::Write("FTP over TLS: " + impl_->lastError);
  return false;
}

bool FtpClient::SetDirectory(const std::string& directory) {
  if (!impl_->connected || directory.empty()) return false;
  std::string path = impl_->path;
  std::size_t start = 0;
  if (directory[0] == '/') {
    path = "/%2F";  // an absolute path starts at the server's root
    start = 1;
  }
  while (start <= directory.size()) {
    std::size_t end = directory.find('/', start);
    if (end == std::string::npos) end = directory.size();
    const std::string segment = directory.substr(start, end - start);
    if (!segment.empty()) {
      if (path.back() != '/') path += '/';
      path += Escape(impl_->easy.get(), segment);
    }
    start = end + 1;
  }
  if (path.back() != '/') path += '/';
  if (!impl_->Visit(impl_->baseUrl + path)) return false;
  impl_->path = path;
  return true;
}

bool FtpClient::Upload(const std::string& localPath, const std::string& remoteName) {
  if (!impl_->connected) return false;
  impl_->cancel = cancel_;
  // The local file is opened first but reported after the remote one, whose
  // creation happens inside the transfer.
  std::unique_ptr<FILE, FileCloser> file(std::fopen(localPath.c_str(), "rb"));
  curl_off_t size = 0;
  struct stat st;
  if (file && fstat(fileno(file.get()), &st) == 0 && S_ISREG(st.st_mode)) {
    size = static_cast<curl_off_t>(st.st_size);
  } else {
    file.reset();
  }
  impl_->source = file.get();
  impl_->readCalled = false;
  CURL* e = impl_->easy.get();
  impl_->Prepare(impl_->baseUrl + impl_->path + Escape(e, remoteName));
  curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(e, CURLOPT_READFUNCTION, &Impl::OnRead);
  curl_easy_setopt(e, CURLOPT_READDATA, impl_.get());
  curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, size);
  CURLcode result = impl_->Finish(curl_easy_perform(e));
  if (result != CURLE_OK && !impl_->active && impl_->mode == kPassiveThenActive &&
      PassiveRefused(result) && !impl_->readCalled) {
    // Passive mode failed before any byte went out: the same upload once more
    // in active mode, which stays in use for this connection.
    LogFile::Write("FTP passive mode failed (" + impl_->lastError + "); trying active mode");
    impl_->active = true;
    if (file) std::rewind(file.get());
    impl_->Prepare(impl_->baseUrl + impl_->path + Escape(e, remoteName));
    result = impl_->Finish(curl_easy_perform(e));
  }
  impl_->source = nullptr;
  curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);

  const bool created = result == CURLE_OK || impl_->readCalled;
  LogFile::Write("FTP create remote file " + remoteName + " " + (created ? "succeeded" : "failed"));
  if (!created) return false;
  LogFile::Write("FTP read local file " + localPath + " " + (file ? "succeeded." : "failed."));
  if (!file) return false;
  curl_off_t written = -1;
  curl_easy_getinfo(e, CURLINFO_SIZE_UPLOAD_T, &written);
  const bool ok = result == CURLE_OK && written == size;
  LogFile::Write(std::string("FTP transmit file ") + (ok ? "succeeded." : "failed."));
  return ok;
}

bool FtpClient::Delete(const std::string& remoteName) {
  if (!impl_->connected || remoteName.empty()) return false;
  // Sent after the change into the current directory, so the bare name is
  // enough.
  curl_slist* commands = curl_slist_append(nullptr, ("DELE " + remoteName).c_str());
  if (commands == nullptr) return false;
  curl_easy_setopt(impl_->easy.get(), CURLOPT_POSTQUOTE, commands);
  const bool ok = impl_->Visit(impl_->baseUrl + impl_->path);
  curl_easy_setopt(impl_->easy.get(), CURLOPT_POSTQUOTE, nullptr);
  curl_slist_free_all(commands);
  return ok;
}

}  // namespace qmr
