// Delivery to servers as they are met in practice: mail over STARTTLS and
// over TLS from the start with AUTH PLAIN and LOGIN, certificates checked
// against the trust store (here the test's own certificate, named by
// SSL_CERT_FILE), servers that refuse or stall, passive and active FTP,
// explicit FTPS, and a proxy from the environment that must see nothing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "delivery/account_check.h"
#include "delivery/ftp_client.h"
#include "delivery/mail_message.h"
#include "delivery/smtp_client.h"
#include "delivery_test_support.h"

namespace qmr {
namespace {

using testing::Capture;
using testing::Exists;
using testing::kPeers;
using testing::kPython;
using testing::LogFolder;
using testing::Peer;
using testing::ReadWhole;
using testing::TestCertificate;
using testing::WriteWhole;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Bytes(int count, int seed) {
  std::string bytes;
  unsigned value = static_cast<unsigned>(seed);
  for (int i = 0; i < count; ++i) {
    value = value * 1103515245u + 12345u;
    bytes += static_cast<char>(value >> 16);
  }
  return bytes;
}

// A folder for the log and the peers, a certificate the process trusts, and
// a mail to send.
class SecureDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cert_.Made());
    setenv("SSL_CERT_FILE", cert_.cert.c_str(), 1);
    ASSERT_EQ(mkdir(tmp_.File("inbox").c_str(), 0700), 0);
    WriteWhole(tmp_.File("Motion.zip"), Bytes(50000, 3));
    mail_.sender = "cam@example.com";
    mail_.subject = "Motion detected";
    mail_.body = "Dear sir,\n\tmotion.\n.dot line";
    ASSERT_TRUE(mail_.AddRecipient("one@example.com, Two@example.com; three@example.com"));
    ASSERT_TRUE(mail_.AddAttachment(tmp_.File("Motion.zip")));
    ASSERT_TRUE(mail_.Compose());
  }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  std::string Inbox(const std::string& name) { return ReadWhole(tmp_.File("inbox/" + name)); }

  bool Send(const std::string& server, int security, bool verify, bool auth = true,
            const std::string& password = "pa ss", int timeout = 10) {
    SmtpClient client;
    client.SetReceiveTimeout(timeout);
    client.SetAccount(server, "cam", password);
    client.SetSecurity(security, verify);
    const bool sent = client.SendMail(mail_, auth);
    lastReply_ = client.LastReply();
    return sent;
  }

  LogFolder tmp_;
  TestCertificate cert_{tmp_.Path()};
  MailMessage mail_;
  std::string lastReply_;
};

// STARTTLS (the server wants TLS before AUTH, and lists PLAIN) and TLS from
// the start (LOGIN only): both mails arrive whole, to every address, and the
// credentials travel only inside TLS and never reach the log.
TEST_F(SecureDeliveryTest, MailThroughStartTlsAndImplicitTls) {
  Peer starttls(tmp_.Path(), {"smtp", tmp_.File("inbox"), "cam", "pa ss", "--starttls", cert_.cert,
                              cert_.key, "--require-tls"});
  Peer implicit(tmp_.Path(), {"smtp", tmp_.File("inbox"), "cam", "pa ss", "--implicit", cert_.cert,
                              cert_.key, "--login-only"});
  ASSERT_GT(starttls.Port(), 0);
  ASSERT_GT(implicit.Port(), 0);
  const std::string local = "localhost:";

  ASSERT_TRUE(Send(local + std::to_string(starttls.Port()), SmtpClient::kSecurityStartTls, true))
      << tmp_.Log();
  ASSERT_TRUE(Send(local + std::to_string(implicit.Port()), SmtpClient::kSecurityTls, true))
      << tmp_.Log();
  EXPECT_EQ(Inbox("auth.txt"), "PLAIN True tls\nLOGIN True tls\n");
  for (const char* message : {"msg0", "msg1"}) {
    EXPECT_EQ(Inbox(std::string(message) + ".env"),
              "cam@example.com\none@example.com,three@example.com,two@example.com\nTrue\n");
    const std::string parts = tmp_.File(std::string("parts-") + message);
    ASSERT_EQ(mkdir(parts.c_str(), 0700), 0);
    Capture(kPython + " " + kPeers + " mail " +
            tmp_.File(std::string("inbox/") + message + ".eml") + " " + parts);
    EXPECT_TRUE(ReadWhole(parts + "/att-motion.zip") == Bytes(50000, 3));
    EXPECT_EQ(ReadWhole(parts + "/to"),
              "one<one@example.com>;three<three@example.com>;two<two@example.com>");
    EXPECT_EQ(ReadWhole(parts + "/body"), "Dear sir,\n\tmotion.\n.dot line\n");
    EXPECT_EQ(ReadWhole(parts + "/defects"), "0");
  }
  const std::string log = tmp_.Log();
  EXPECT_NE(log.find("Snd:STARTTLS\r\n"), std::string::npos);
  EXPECT_NE(log.find("TLS established with localhost:" + std::to_string(implicit.Port())),
            std::string::npos);
  EXPECT_EQ(log.find("pa ss"), std::string::npos);
  EXPECT_EQ(log.find("Y2Ft"), std::string::npos);      // "cam" in Base64
  EXPECT_EQ(log.find("cGEgc3M"), std::string::npos);   // "pa ss"
  EXPECT_EQ(log.find("AGNhbQBw"), std::string::npos);  // the PLAIN token

  // Without TLS the same server refuses AUTH: the dialogue ends there.
  EXPECT_FALSE(
      Send("localhost:" + std::to_string(starttls.Port()), SmtpClient::kSecurityNone, true));
  EXPECT_EQ(lastReply_.substr(0, 3), "538");
  EXPECT_NE(tmp_.Log().find("Authentication failed: 538"), std::string::npos);
  EXPECT_FALSE(Exists(tmp_.File("inbox/msg2.eml")));
}

// A certificate that does not name the host is refused before anything is
// sent; with verification off it is accepted, and the log says so.
TEST_F(SecureDeliveryTest, CertificateNameIsChecked) {
  Peer server(tmp_.Path(),
              {"smtp", tmp_.File("inbox"), "cam", "pa ss", "--implicit", cert_.cert, cert_.key});
  ASSERT_GT(server.Port(), 0);
  const std::string byAddress = server.Address();  // the certificate names "localhost" only
  EXPECT_FALSE(Send(byAddress, SmtpClient::kSecurityTls, true));
  std::string log = tmp_.Log();
  EXPECT_NE(log.find("TLS handshake with " + byAddress + " failed: certificate refused"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Snd:"), std::string::npos);  // not even EHLO
  EXPECT_FALSE(Exists(tmp_.File("inbox/auth.txt")));

  // An untrusted certificate is refused too.
  unsetenv("SSL_CERT_FILE");
  EXPECT_FALSE(Send("localhost:" + std::to_string(server.Port()), SmtpClient::kSecurityTls, true));
  EXPECT_FALSE(Exists(tmp_.File("inbox/auth.txt")));

  ASSERT_TRUE(Send(byAddress, SmtpClient::kSecurityTls, false)) << tmp_.Log();
  EXPECT_NE(tmp_.Log().find("The mail server's certificate is not checked (MAILVERIFY=0)."),
            std::string::npos);
  EXPECT_TRUE(Exists(tmp_.File("inbox/msg0.eml")));
}

// Scripted servers: no STARTTLS offered, 535 to AUTH, a greeting dribbled
// one byte a second, and a server that never answers the TLS handshake
// (given up after the time-out, or at once when cancelled).
TEST_F(SecureDeliveryTest, FailingServersReleaseTheThread) {
  {
    Peer server(tmp_.Path(), {"fake", "prompt", tmp_.File("plain.txt")});
    EXPECT_FALSE(Send(server.Address(), SmtpClient::kSecurityStartTls, true));
    EXPECT_NE(tmp_.Log().find("The mail server does not offer STARTTLS; the mail is not sent"),
              std::string::npos);
    EXPECT_EQ(ReadWhole(tmp_.File("plain.txt")), "EHLO qmr\n");  // no credentials in clear
  }
  {
    Peer server(tmp_.Path(), {"fake", "deny", tmp_.File("deny.txt")});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Send(server.Address(), SmtpClient::kSecurityNone, true, true, "pa ss", 30));
    EXPECT_LT(SecondsSince(start), 5.0);  // not the 30 s receive limit
    EXPECT_NE(tmp_.Log().find("Authentication failed: 535 5.7.8 Authentication credentials "
                              "invalid\n"),
              std::string::npos);
    EXPECT_EQ(ReadWhole(tmp_.File("deny.txt")).find("MAIL"), std::string::npos);
  }
  {
    Peer server(tmp_.Path(), {"fake", "drip", tmp_.File("drip.txt")});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Send(server.Address(), SmtpClient::kSecurityNone, true, true, "pa ss", 3));
    EXPECT_LT(SecondsSince(start), 8.0);  // the greeting alone takes 16 s
    EXPECT_EQ(lastReply_, "No complete answer from the mail server in time.");
  }
  {
    Peer server(tmp_.Path(), {"fake", "mute", tmp_.File("mute.txt")});
    EXPECT_FALSE(Send(server.Address(), SmtpClient::kSecurityTls, true, true, "pa ss", 1));
    EXPECT_NE(
        tmp_.Log().find("TLS handshake with " + server.Address() + " failed: no answer in time"),
        std::string::npos);

    std::atomic<bool> cancel{false};
    SmtpClient client;
    client.SetReceiveTimeout(60);
    client.SetCancelFlag(&cancel);
    client.SetAccount(server.Address(), "cam", "pa ss");
    client.SetSecurity(SmtpClient::kSecurityTls, true);
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      cancel.store(true);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.SendMail(mail_, true));
    EXPECT_LT(SecondsSince(start), 5.0);
    stopper.join();
    EXPECT_NE(tmp_.Log().find("failed: stopped"), std::string::npos);
  }
}

// A listener that records whether anyone connected: the fake proxy.
class FakeProxy {
 public:
  FakeProxy() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(fd_, 4);
    socklen_t size = sizeof(address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~FakeProxy() { close(fd_); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  bool Contacted() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Whether the server stored exactly data; if not, how much and where it
// first differs, so that a rare mismatch says what went wrong.
::testing::AssertionResult StoredWhole(const std::string& path, const std::string& data) {
  const std::string stored = ReadWhole(path);
  if (stored == data) return ::testing::AssertionSuccess();
  std::size_t same = 0;
  while (same < stored.size() && same < data.size() && stored[same] == data[same]) ++same;
  return ::testing::AssertionFailure() << path << " holds " << stored.size() << " bytes of "
                                       << data.size() << ", the first " << same << " right";
}

struct FtpRun {
  bool connected = false;
  bool uploaded = false;
};

FtpRun Upload(const std::string& server, int mode, int security, const std::string& file,
              const std::string& name) {
  FtpRun run;
  FtpClient client;
  client.SetTimeouts(5, 5);
  client.SetOptions(mode, security, true);
  run.connected = client.Connect(server, "cam", "pw");
  run.uploaded = run.connected && client.Upload(file, name);
  return run;
}

// Passive only, active only, passive falling back to active, explicit and
// implicit FTPS with both channels protected; the proxy named by the
// environment sees nothing.
TEST_F(SecureDeliveryTest, FtpModesTlsAndNoProxy) {
  ASSERT_EQ(mkdir(tmp_.File("root").c_str(), 0700), 0);
  Peer passiveOnly(tmp_.Path(), {"ftp", tmp_.File("root"), "cam", "pw", "--refuse", "PORT"});
  Peer activeOnly(tmp_.Path(), {"ftp", tmp_.File("root"), "cam", "pw", "--refuse", "PASV"});
  Peer secure(tmp_.Path(), {"ftp", tmp_.File("root"), "cam", "pw", "--refuse", "none", "--tls",
                            cert_.cert, cert_.key});
  ASSERT_GT(passiveOnly.Port(), 0);
  ASSERT_GT(activeOnly.Port(), 0);
  Peer implicit(tmp_.Path(), {"ftp", tmp_.File("root"), "cam", "pw", "--refuse", "none", "--tls",
                              cert_.cert, cert_.key, "--implicit"});
  ASSERT_GT(secure.Port(), 0);
  ASSERT_GT(implicit.Port(), 0);
  const std::string data = Bytes(300000, 5);
  WriteWhole(tmp_.File("event.zip"), data);

  FakeProxy proxy;
  for (const char* variable : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    setenv(variable, proxy.Url().c_str(), 1);
  }
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");

  EXPECT_TRUE(Upload(passiveOnly.Address(), FtpClient::kPassive, 0, tmp_.File("event.zip"), "p.zip")
                  .uploaded);
  EXPECT_TRUE(StoredWhole(tmp_.File("root/p.zip"), data)) << tmp_.Log();
  const FtpRun refusedActive =
      Upload(passiveOnly.Address(), FtpClient::kActive, 0, tmp_.File("event.zip"), "a.zip");
  EXPECT_TRUE(refusedActive.connected);
  EXPECT_FALSE(refusedActive.uploaded);

  EXPECT_FALSE(Upload(activeOnly.Address(), FtpClient::kPassive, 0, tmp_.File("event.zip"), "x.zip")
                   .uploaded);
  EXPECT_TRUE(Upload(activeOnly.Address(), FtpClient::kPassiveThenActive, 0, tmp_.File("event.zip"),
                     "f.zip")
                  .uploaded);
  EXPECT_TRUE(StoredWhole(tmp_.File("root/f.zip"), data)) << tmp_.Log();
  EXPECT_NE(tmp_.Log().find("FTP passive mode failed"), std::string::npos);

  const std::string secureByName = "localhost:" + std::to_string(secure.Port());
  EXPECT_TRUE(Upload(secureByName, FtpClient::kPassiveThenActive, FtpClient::kSecurityExplicitTls,
                     tmp_.File("event.zip"), "s.zip")
                  .uploaded)
      << tmp_.Log();
  EXPECT_TRUE(StoredWhole(tmp_.File("root/s.zip"), data)) << tmp_.Log();
  EXPECT_TRUE(Upload("localhost:" + std::to_string(implicit.Port()), FtpClient::kPassiveThenActive,
                     FtpClient::kSecurityImplicitTls, tmp_.File("event.zip"), "i.zip")
                  .uploaded)
      << tmp_.Log();
  EXPECT_TRUE(StoredWhole(tmp_.File("root/i.zip"), data)) << tmp_.Log();
  // The server wants TLS: a plain login is refused, and so is a certificate
  // that does not name the host.
  EXPECT_FALSE(
      Upload(secureByName, FtpClient::kPassive, 0, tmp_.File("event.zip"), "n.zip").connected);
  EXPECT_FALSE(Upload(secure.Address(), FtpClient::kPassive, FtpClient::kSecurityExplicitTls,
                      tmp_.File("event.zip"), "n.zip")
                   .connected);
  EXPECT_FALSE(Exists(tmp_.File("root/n.zip")));

  EXPECT_FALSE(proxy.Contacted());
  for (const char* variable : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    unsetenv(variable);
  }
}

// The checks behind the dialog's test buttons: a mail to every address, a
// file uploaded and deleted again, and the server's answer on failure.
TEST_F(SecureDeliveryTest, AccountChecks) {
  Peer mailServer(tmp_.Path(), {"smtp", tmp_.File("inbox"), "cam", "pa ss", "--starttls",
                                cert_.cert, cert_.key, "--require-tls"});
  ASSERT_EQ(mkdir(tmp_.File("root").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(tmp_.File("root/in").c_str(), 0700), 0);
  Peer ftpServer(tmp_.Path(), {"ftp", tmp_.File("root"), "cam", "pw", "--refuse", "none", "--tls",
                               cert_.cert, cert_.key});
  Settings s;
  s.mailServer = "localhost:" + std::to_string(mailServer.Port());
  s.mailSecurity = 1;
  s.mailFrom = "cam@example.com";
  s.mailTo = "a@example.com;b@example.com";
  s.authUser = "cam";
  s.authPasswd = "pa ss";
  AccountCheckResult mail = SendTestMail(s, nullptr, 10);
  EXPECT_TRUE(mail.ok) << mail.message << tmp_.Log();
  EXPECT_EQ(Inbox("msg0.env"), "cam@example.com\na@example.com,b@example.com\nTrue\n");
  s.authPasswd = "wrong";
  mail = SendTestMail(s, nullptr, 10);
  EXPECT_FALSE(mail.ok);
  EXPECT_NE(mail.message.find("Last answer: 535"), std::string::npos) << mail.message;
  s.mailTo = "";
  EXPECT_FALSE(SendTestMail(s, nullptr, 10).ok);

  s.ftpServer = "localhost:" + std::to_string(ftpServer.Port());
  s.ftpSecurity = 1;
  s.ftpUser = "cam";
  s.ftpPasswd = "pw";
  s.ftpDir = "in";
  const AccountCheckResult ftp = TestFtpUpload(s, nullptr);
  EXPECT_TRUE(ftp.ok) << ftp.message << tmp_.Log();
  EXPECT_EQ(Capture("ls -A " + tmp_.File("root/in")), "");  // uploaded and deleted
  EXPECT_NE(tmp_.Log().find("FTP transmit file succeeded."), std::string::npos);
  s.ftpPasswd = "bad";
  const AccountCheckResult refused = TestFtpUpload(s, nullptr);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.message.find("530"), std::string::npos) << refused.message;
}

}  // namespace
}  // namespace qmr
