#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <regex>
#include <string>

#include "delivery/mail_message.h"
#include "delivery/smtp_client.h"
#include "delivery/socket_client.h"
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
using testing::WaitUntil;
using testing::WriteWhole;

std::string Text(const ByteBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.Data()),
                     static_cast<size_t>(buffer.Length()));
}

std::string BinaryBytes(int count, int seed) {
  std::string bytes;
  unsigned value = static_cast<unsigned>(seed);
  for (int i = 0; i < count; ++i) {
    value = value * 1103515245u + 12345u;
    bytes += static_cast<char>(value >> 16);
  }
  return bytes;
}

TEST(MailMessageTest, RecipientsAndAttachments) {
  LogFolder tmp;
  MailMessage mail;
  EXPECT_TRUE(mail.AddRecipient("  Alice.Smith@Example.COM "));
  EXPECT_FALSE(mail.AddRecipient("alice.smith@example.com"));  // duplicate once cleaned
  EXPECT_FALSE(mail.AddRecipient("   "));
  EXPECT_FALSE(mail.AddRecipient("no-at-sign"));
  EXPECT_FALSE(mail.AddRecipient(" @example.com"));
  EXPECT_FALSE(mail.AddRecipient("bob@ "));
  EXPECT_TRUE(mail.AddRecipient("bob@example.com"));
  ASSERT_EQ(mail.Recipients().size(), 2u);
  EXPECT_EQ(mail.Recipients().at("alice.smith@example.com").displayName, "alice.smith");

  WriteWhole(tmp.File("Empty.bin"), "");
  WriteWhole(tmp.File("Motion.ZIP"), BinaryBytes(1000, 1));
  EXPECT_FALSE(mail.AddAttachment(tmp.File("Empty.bin")));
  EXPECT_FALSE(mail.AddAttachment(tmp.File("missing.bin")));
  EXPECT_TRUE(mail.AddAttachment(tmp.File("Motion.ZIP")));
  EXPECT_FALSE(mail.AddAttachment(" " + tmp.File("Motion.ZIP")));
  ASSERT_EQ(mail.Attachments().size(), 1u);
  EXPECT_EQ(mail.Attachments().begin()->second.fileName, "motion.zip");

  // Without a sender nothing is composed.
  EXPECT_FALSE(mail.Compose());
  mail.sender = "cam@example.com";
  mail.subject = "Motion detected";
  mail.body = "Dear sir,\n\tbody";
  ASSERT_TRUE(mail.Compose());
  const std::string text = Text(mail.Composed());
  const std::string b = MailMessage::kBoundary;
  const std::regex head(
      "From: cam@example\\.com\r\n"
      "To:alice\\.smith<alice\\.smith@example\\.com>;bob<bob@example\\.com>\r\n"
      "Subject: Motion detected\r\n"
      "Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [ 1-3][0-9] "
      "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} \r\n"
      "X-mailer: Quelmar Video Capture 2\\.0\r\n"
      "MIME-Version: 1\\.0\r\nContent-Type: multipart/mixed; "
      "boundary=\"=====QMR_Mailer_Boundary_=====\"\r\n"
      "\r\nThis is a multi-part message in MIME format\\.\r\n\r\n"
      "--=====QMR_Mailer_Boundary_=====\r\nContent-Type: text/plain\r\n"
      "Content-Transfer-Encoding: 7bit\r\n\r\nDear sir,\n\tbody"
      "\r\n\r\n--=====QMR_Mailer_Boundary_=====\r\n"
      "Content-Type: application/octet-stream; name=\"motion\\.zip\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"motion\\.zip\"\r\n\r\n"
      "([A-Za-z0-9+/]{76}\r\n)+[A-Za-z0-9+/=]{1,76}"  // lines of 76 characters
      "\r\n\r\n--=====QMR_Mailer_Boundary_=====--");
  EXPECT_TRUE(std::regex_match(text, head)) << text.substr(0, 700);

  // A second compose neither encodes again nor changes the attachment text.
  ASSERT_TRUE(mail.Compose());
  EXPECT_EQ(Text(mail.Composed()).substr(text.size() - 200), text.substr(text.size() - 200));
}

TEST(SocketClientTest, ConnectFailuresAndClosedPeer) {
  LogFolder tmp;
  SocketClient client;
  const char data[] = "x";
  EXPECT_EQ(client.Send(data, 1), -1);  // never connected
  char buffer[16];
  EXPECT_LT(client.Receive(buffer, sizeof(buffer)), 0);

  // A port nobody listens on: find one by binding and releasing it.
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  socklen_t size = sizeof(address);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  const int closedPort = ntohs(address.sin_port);
  close(probe);
  EXPECT_FALSE(client.Connect("127.0.0.1", closedPort, 2));
  EXPECT_NE(
      tmp.Log().find("Failed to connect server at 127.0.0.1:" + std::to_string(closedPort) + "\n"),
      std::string::npos);
  EXPECT_FALSE(client.Connect("no-such-host.invalid", 25, 2));
  EXPECT_NE(tmp.Log().find("DNS failed to locate host no-such-host.invalid\n"), std::string::npos);

  // A peer that closes at once: Receive sees the end (0) after the greeting.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  address.sin_port = 0;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  const int port = ntohs(address.sin_port);
  ASSERT_TRUE(client.Connect("127.0.0.1", port, 2));
  EXPECT_NE(tmp.Log().find("Server 127.0.0.1:" + std::to_string(port) + " connected\n"),
            std::string::npos);
  int peer = accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(write(peer, "hi", 2), 2);
  close(peer);
  close(listener);
  EXPECT_EQ(client.Receive(buffer, sizeof(buffer)), 2);
  EXPECT_EQ(client.Receive(buffer, sizeof(buffer)), 0);
}

// A real mail server with AUTH LOGIN receives a mail with two attachments;
// Python's email package finds every part unchanged.
TEST(SmtpClientTest, MailWithAttachmentsReachesServer) {
  LogFolder tmp;
  ASSERT_EQ(mkdir(tmp.File("inbox").c_str(), 0700), 0);
  Peer server(tmp.Path(), {"smtp", tmp.File("inbox"), "camuser", "s3cret pass"});
  ASSERT_GT(server.Port(), 0);

  const std::string first = BinaryBytes(70000, 7);
  const std::string second = BinaryBytes(3, 9);
  WriteWhole(tmp.File("Motion.zip"), first);
  WriteWhole(tmp.File("pics.zip"), second);
  MailMessage mail;
  mail.sender = "cam@example.com";
  mail.subject = "Motion detected";
  // A line starting with "." must arrive as it was written.
  mail.body = "Dear sir,\n\tmotion on camera one.\r\n.hidden line\r\n.\r\nend";
  ASSERT_TRUE(mail.AddRecipient("Watcher@Example.com"));
  ASSERT_TRUE(mail.AddRecipient("second@example.com"));
  ASSERT_TRUE(mail.AddAttachment(tmp.File("Motion.zip")));
  ASSERT_TRUE(mail.AddAttachment(tmp.File("pics.zip")));
  ASSERT_TRUE(mail.Compose());

  SmtpClient client;
  client.SetReceiveTimeout(10);
  client.SetAccount(server.Address(), "camuser", "s3cret pass");
  ASSERT_TRUE(client.SendMail(mail, true)) << tmp.Log();

  const std::string env = ReadWhole(tmp.File("inbox/msg0.env"));
  EXPECT_EQ(env, "cam@example.com\nsecond@example.com,watcher@example.com\nTrue\n");
  ASSERT_TRUE(mkdir(tmp.File("parts").c_str(), 0700) == 0);
  Capture(kPython + " " + kPeers + " mail " + tmp.File("inbox/msg0.eml") + " " + tmp.File("parts"));
  EXPECT_EQ(ReadWhole(tmp.File("parts/from")), "cam@example.com");
  EXPECT_EQ(ReadWhole(tmp.File("parts/to")),
            "second<second@example.com>;watcher<watcher@example.com>");
  EXPECT_EQ(ReadWhole(tmp.File("parts/subject")), "Motion detected");
  EXPECT_EQ(ReadWhole(tmp.File("parts/mailer")), "Quelmar Video Capture 2.0");
  // The parser gives line feeds; the line break before the boundary is the
  // text's own.
  EXPECT_EQ(ReadWhole(tmp.File("parts/body")),
            "Dear sir,\n\tmotion on camera one.\n.hidden line\n.\nend\n");
  EXPECT_EQ(ReadWhole(tmp.File("parts/attachments")), "motion.zip|motion.zip\npics.zip|pics.zip");
  EXPECT_EQ(ReadWhole(tmp.File("parts/att-motion.zip")), first);
  EXPECT_EQ(ReadWhole(tmp.File("parts/att-pics.zip")), second);
  EXPECT_EQ(ReadWhole(tmp.File("parts/defects")), "0");

  // Every line of the text went out with CR LF, even the body's bare LF.
  const std::string raw = ReadWhole(tmp.File("inbox/msg0.eml"));
  for (size_t at = raw.find('\n'); at != std::string::npos; at = raw.find('\n', at + 1)) {
    ASSERT_TRUE(at > 0 && raw[at - 1] == '\r') << "bare LF at " << at;
  }

  // The server lists PLAIN, which is then used. The dialogue is logged, the
  // credentials are not.
  const std::string log = tmp.Log();
  EXPECT_NE(log.find("Snd:EHLO qmr\r\n"), std::string::npos);
  EXPECT_NE(log.find("Snd:AUTH PLAIN (credentials hidden)"), std::string::npos);
  EXPECT_EQ(ReadWhole(tmp.File("inbox/auth.txt")), "PLAIN True clear\n");
  EXPECT_EQ(log.find("Y2FtdXNlcg=="), std::string::npos);                  // "camuser"
  EXPECT_EQ(log.find("czNjcmV0IHBhc3M="), std::string::npos);              // "s3cret pass"
  EXPECT_EQ(log.find("AGNhbXVzZXIAczNjcmV0IHBhc3M="), std::string::npos);  // PLAIN token
  EXPECT_NE(log.find("Snd:MAIL FROM:<cam@example.com>\r\n"), std::string::npos);
  EXPECT_NE(log.find("Rcv:221"), std::string::npos);

  // Wrong credentials end the dialogue before MAIL.
  SmtpClient refused;
  refused.SetReceiveTimeout(10);
  refused.SetAccount(server.Address(), "camuser", "wrong");
  EXPECT_FALSE(refused.SendMail(mail, true));
  EXPECT_FALSE(Exists(tmp.File("inbox/msg1.eml")));
}

// Scripted servers: extra replies before the prompt, a refused recipient,
// a server that goes silent.
TEST(SmtpClientTest, DialogueWithScriptedServers) {
  LogFolder tmp;
  MailMessage mail;
  mail.sender = "cam@example.com";
  mail.body = "text";
  ASSERT_TRUE(mail.AddRecipient("a@example.com"));
  ASSERT_TRUE(mail.AddRecipient("b@example.com"));
  ASSERT_TRUE(mail.Compose());

  {
    Peer server(tmp.Path(), {"fake", "prompt", tmp.File("prompt.txt")});
    SmtpClient client;
    client.SetReceiveTimeout(10);
    client.SetAccount(server.Address(), "u", "p");
    EXPECT_TRUE(client.SendMail(mail, true)) << tmp.Log();
    const std::string seen = ReadWhole(tmp.File("prompt.txt"));
    EXPECT_NE(seen.find("MAIL FROM:<cam@example.com>\nRCPT TO:<a@example.com>\n"
                        "RCPT TO:<b@example.com>\nDATA\n<message>\nQUIT\n"),
              std::string::npos)
        << seen;
  }
  {
    Peer server(tmp.Path(), {"fake", "refuse", tmp.File("refuse.txt")});
    SmtpClient client;
    client.SetReceiveTimeout(10);
    client.SetAccount(server.Address(), "u", "p");
    EXPECT_FALSE(client.SendMail(mail, false));
    const std::string seen = ReadWhole(tmp.File("refuse.txt"));
    EXPECT_NE(seen.find("RCPT TO:<a@example.com>"), std::string::npos);
    EXPECT_EQ(seen.find("RCPT TO:<b@example.com>"), std::string::npos);
    EXPECT_EQ(seen.find("DATA"), std::string::npos);
    EXPECT_EQ(seen.find("AUTH"), std::string::npos);
  }
  {
    Peer server(tmp.Path(), {"fake", "silent", tmp.File("silent.txt")});
    SmtpClient client;
    client.SetReceiveTimeout(1);
    client.SetAccount(server.Address(), "u", "p");
    EXPECT_FALSE(client.SendMail(mail, false));
    EXPECT_NE(ReadWhole(tmp.File("silent.txt")).find("EHLO qmr"), std::string::npos);
  }
}

}  // namespace
}  // namespace qmr
