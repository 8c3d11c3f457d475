#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "delivery/dialup_connection.h"
#include "delivery/ftp_client.h"
#include "delivery/mail_message.h"
#include "delivery/transfer_queue.h"
#include "delivery/zip_packer.h"
#include "delivery_test_support.h"
#include "platform/internet_check.h"

namespace qmr {
namespace {

using testing::Capture;
using testing::DeliveryContext;
using testing::Exists;
using testing::kPeers;
using testing::kPython;
using testing::LogFolder;
using testing::Peer;
using testing::ReadWhole;
using testing::WaitUntil;
using testing::WriteWhole;

std::string Pattern(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>((i * 7 + i / 13) & 0xff);
  return bytes;
}

// Entries in log order, positions of their first appearance.
size_t At(const std::string& log, const std::string& text) { return log.find(text); }

// Two files of the same name from different folders: both are packed (the
// second under a numbered name) before either source is deleted; text is
// deflated.
TEST(ZipPackerTest, SameNameKeepsBothAndTextIsDeflated) {
  LogFolder tmp;
  ASSERT_EQ(mkdir(tmp.File("x").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(tmp.File("y").c_str(), 0700), 0);
  WriteWhole(tmp.File("x/a.jpg"), Pattern(1000));
  WriteWhole(tmp.File("y/a.jpg"), Pattern(2000));
  WriteWhole(tmp.File("x/a (2).jpg"), Pattern(3000));
  WriteWhole(tmp.File("notes.txt"), std::string(4000, 'n'));
  ZipPacker packer;
  ASSERT_TRUE(packer.SetArchive(tmp.Path(), "both.zip"));
  ASSERT_TRUE(packer.AddFile(tmp.File("x/a.jpg")));
  ASSERT_TRUE(packer.AddFile(tmp.File("y/a.jpg")));
  ASSERT_TRUE(packer.AddFile(tmp.File("x/a (2).jpg")));
  ASSERT_TRUE(packer.AddFile("notes.txt"));
  ASSERT_TRUE(packer.Pack(true));
  for (const char* gone : {"x/a.jpg", "y/a.jpg", "x/a (2).jpg", "notes.txt"}) {
    EXPECT_FALSE(Exists(tmp.File(gone))) << gone;
  }
  EXPECT_EQ(Capture(kPython + " " + kPeers + " zip " + tmp.File("both.zip") + " 2>&1"),
            "a.jpg\t0\t1000\na (2).jpg\t0\t2000\na (2) (2).jpg\t0\t3000\nnotes.txt\t8\t4000\n");
  EXPECT_EQ(ZipPacker::UniqueName("Motion", {"Motion"}), "Motion (2)");
}

TEST(ZipPackerTest, BareNamesDeflateAndUpdate) {
  LogFolder tmp;
  ASSERT_EQ(mkdir(tmp.File("pic").c_str(), 0700), 0);
  WriteWhole(tmp.File("pic/a.jpg"), Pattern(5000));
  WriteWhole(tmp.File("pic/b.jpg"), Pattern(300));

  ZipPacker packer;
  EXPECT_TRUE(packer.SetArchive(tmp.File("pic"), "event.zip"));
  EXPECT_FALSE(packer.SetArchive("/elsewhere", "   "));  // root kept
  EXPECT_TRUE(packer.AddFile(" a.jpg "));                // relative to the root
  EXPECT_FALSE(packer.AddFile("a.jpg"));
  EXPECT_FALSE(packer.AddFile("  "));
  EXPECT_TRUE(packer.AddFile(tmp.File("pic/b.jpg")));
  EXPECT_EQ(packer.ArchivePath(), tmp.File("pic/event.zip"));
  ASSERT_TRUE(packer.Pack(false));
  EXPECT_TRUE(Exists(tmp.File("pic/a.jpg")));

  // A second run into the same archive keeps the first run's entries and
  // replaces an entry of the same name; the sources go only now.
  WriteWhole(tmp.File("c.avi"), Pattern(20000));
  WriteWhole(tmp.File("b.jpg"), Pattern(77));
  ZipPacker second;
  ASSERT_TRUE(second.SetArchive(tmp.Path() + "/", "pic/event.zip"));
  ASSERT_TRUE(second.AddFile(tmp.File("c.avi")));
  ASSERT_TRUE(second.AddFile("b.jpg"));
  ASSERT_TRUE(second.Pack(true));
  EXPECT_FALSE(Exists(tmp.File("c.avi")));
  EXPECT_FALSE(Exists(tmp.File("b.jpg")));

  const std::string listing =
      Capture(kPython + " " + kPeers + " zip " + tmp.File("pic/event.zip") + " 2>&1");
  // name, method (0 = stored: pictures and movies do not deflate), size
  EXPECT_EQ(listing, "a.jpg\t0\t5000\nb.jpg\t0\t77\nc.avi\t0\t20000\n");

  // Nothing to pack, or nothing readable: no archive, sources kept.
  ZipPacker empty;
  EXPECT_TRUE(empty.SetArchive(tmp.Path(), "none.zip"));
  EXPECT_FALSE(empty.Pack(true));
  EXPECT_TRUE(empty.AddFile(tmp.File("missing.jpg")));
  EXPECT_FALSE(empty.Pack(true));
  EXPECT_FALSE(Exists(tmp.File("none.zip")));
}

TEST(InternetCheckTest, DefaultRouteOnInterfaceThatIsUp) {
  LogFolder tmp;
  InternetCheckPaths paths{tmp.File("route"), tmp.File("ipv6_route"), tmp.File("net")};
  ASSERT_EQ(mkdir(paths.netFolder.c_str(), 0700), 0);
  for (const char* name : {"eth0", "wlan0"}) {
    ASSERT_EQ(mkdir((paths.netFolder + "/" + name).c_str(), 0700), 0);
  }
  WriteWhole(paths.netFolder + "/eth0/flags", "0x1003\n");
  WriteWhole(paths.netFolder + "/wlan0/flags", "0x1002\n");  // down
  const std::string header =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  WriteWhole(paths.route, header + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
  EXPECT_FALSE(HasInternetConnection(paths));  // no default route
  WriteWhole(paths.route, header + "wlan0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
  EXPECT_FALSE(HasInternetConnection(paths));  // its interface is down
  // The loopback's unreachable IPv6 default does not count; a real one does.
  WriteWhole(paths.ipv6Route,
             "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
             "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n");
  EXPECT_FALSE(HasInternetConnection(paths));
  WriteWhole(paths.ipv6Route,
             "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
             "fd000000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n");
  EXPECT_TRUE(HasInternetConnection(paths));
  std::remove(paths.ipv6Route.c_str());
  WriteWhole(paths.route, header + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
  EXPECT_TRUE(HasInternetConnection(paths));
}

TEST(FtpClientTest, UploadsInActiveMode) {
  LogFolder tmp;
  ASSERT_EQ(mkdir(tmp.File("root").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(tmp.File("root/incoming").c_str(), 0700), 0);
  Peer server(tmp.Path(), {"ftp", tmp.File("root"), "cam", "pw"});
  ASSERT_GT(server.Port(), 0);

  FtpClient wrong;
  wrong.SetTimeouts(5, 5);
  EXPECT_FALSE(wrong.Connect(server.Address(), "cam", "bad"));
  EXPECT_NE(tmp.Log().find("530"), std::string::npos);  // the server's answer is logged

  FtpClient client;
  client.SetTimeouts(5, 5);
  EXPECT_FALSE(client.Upload(tmp.File("x"), "x"));  // not connected
  ASSERT_TRUE(client.Connect(server.Address(), "cam", "pw"));
  EXPECT_FALSE(client.SetDirectory("nowhere"));
  ASSERT_TRUE(client.SetDirectory("incoming"));

  WriteWhole(tmp.File("event.zip"), Pattern(200000));
  WriteWhole(tmp.File("root/incoming/event.zip"), "old contents");
  ASSERT_TRUE(client.Upload(tmp.File("event.zip"), "event.zip"));
  EXPECT_EQ(ReadWhole(tmp.File("root/incoming/event.zip")), Pattern(200000));

  WriteWhole(tmp.File("empty.zip"), "");
  EXPECT_TRUE(client.Upload(tmp.File("empty.zip"), "empty.zip"));
  EXPECT_TRUE(Exists(tmp.File("root/incoming/empty.zip")));
  EXPECT_EQ(ReadWhole(tmp.File("root/incoming/empty.zip")), "");

  EXPECT_FALSE(client.Upload(tmp.File("missing.zip"), "missing.zip"));
  const std::string log = tmp.Log();
  const size_t remote = At(log, "FTP create remote file missing.zip succeeded\n");
  const size_t local = At(log, "FTP read local file " + tmp.File("missing.zip") + " failed.\n");
  ASSERT_NE(remote, std::string::npos) << log;
  ASSERT_NE(local, std::string::npos) << log;
  EXPECT_LT(remote, local);
  EXPECT_NE(At(log, "FTP create remote file event.zip succeeded\n"), std::string::npos);
  EXPECT_NE(At(log, "FTP read local file " + tmp.File("event.zip") + " succeeded.\n"),
            std::string::npos);
  EXPECT_NE(At(log, "FTP transmit file succeeded.\n"), std::string::npos);

  // An absolute directory works from the server's root.
  EXPECT_TRUE(client.SetDirectory("/"));
  EXPECT_TRUE(client.Upload(tmp.File("event.zip"), "top.zip"));
  EXPECT_TRUE(Exists(tmp.File("root/top.zip")));

  // After a refused directory change the file lands in the login folder.
  FtpClient fresh;
  fresh.SetTimeouts(5, 5);
  ASSERT_TRUE(fresh.Connect(server.Address(), "cam", "pw"));
  EXPECT_FALSE(fresh.SetDirectory("nowhere/deeper"));
  EXPECT_TRUE(fresh.Upload(tmp.File("event.zip"), "fallback.zip"));
  EXPECT_EQ(ReadWhole(tmp.File("root/fallback.zip")), Pattern(200000));
}

// A fake pppd: pon brings up "ppp7" (named in the pid file) and poff takes it
// down; each writes a marker so the test sees what was called.
struct FakePpp {
  explicit FakePpp(const LogFolder& tmp) {
    config.peersFolder = tmp.File("peers");
    config.chapSecrets = tmp.File("chap-secrets");
    config.papSecrets = tmp.File("pap-secrets");
    config.netFolder = tmp.File("net");
    config.runFolder = tmp.File("run");
    config.ponCommand = tmp.File("pon");
    config.poffCommand = tmp.File("poff");
    config.dialTimeoutMs = 5000;
    config.hangUpTimeoutMs = 5000;
    ponMarker = tmp.File("pon-called");
    poffMarker = tmp.File("poff-called");
    for (const auto& folder : {config.peersFolder, config.netFolder, config.runFolder}) {
      mkdir(folder.c_str(), 0700);
    }
    WriteWhole(config.ponCommand, "#!/bin/sh\necho \"$1\" >> " + ponMarker + "\nmkdir -p " +
                                      config.netFolder + "/ppp7\necho 0x1091 > " +
                                      config.netFolder + "/ppp7/flags\nprintf '123\\nppp7\\n' > " +
                                      config.runFolder + "/ppp-$1.pid\n");
    WriteWhole(config.poffCommand, "#!/bin/sh\necho \"$1\" >> " + poffMarker + "\nrm -rf " +
                                       config.netFolder + "/ppp7 " + config.runFolder +
                                       "/ppp-$1.pid\n");
    chmod(config.ponCommand.c_str(), 0700);
    chmod(config.poffCommand.c_str(), 0700);
    WriteWhole(config.peersFolder + "/isp", "# provider\nuser \"cam@isp\"\nnoauth\n");
    WriteWhole(config.peersFolder + "/other", "user nobody-here\n");
    WriteWhole(config.peersFolder + "/inline", "user x\npassword 'secret word'\n");
    WriteWhole(config.chapSecrets, "# client server secret\n\"cam@isp\" * \"pw\"\n");
  }
  DialupConnection::Config config;
  std::string ponMarker;
  std::string poffMarker;
};

TEST(DialupConnectionTest, DialsOnlyEntriesWithStoredPassword) {
  LogFolder tmp;
  FakePpp ppp(tmp);
  DialupConnection line(ppp.config);
  ASSERT_TRUE(line.RefreshEntries());
  ASSERT_EQ(line.Entries().size(), 3u);
  EXPECT_EQ(line.Entries().begin()->first, "inline");
  EXPECT_TRUE(line.HasStoredPassword("inline"));
  EXPECT_FALSE(line.HangUp());  // never dialled

  EXPECT_FALSE(line.Dial("other"));  // no stored password: nothing dialled
  EXPECT_FALSE(line.Dial("unknown"));
  EXPECT_FALSE(Exists(ppp.ponMarker));

  ASSERT_TRUE(line.Dial("isp"));
  EXPECT_EQ(ReadWhole(ppp.ponMarker), "isp\n");
  EXPECT_TRUE(line.IsDialled());
  EXPECT_TRUE(line.Dial("inline"));  // a line is held: no second dial
  EXPECT_EQ(ReadWhole(ppp.ponMarker), "isp\n");
  ASSERT_TRUE(line.HangUp());
  EXPECT_EQ(ReadWhole(ppp.poffMarker), "isp\n");
  EXPECT_FALSE(line.IsDialled());
  EXPECT_FALSE(line.HangUp());

  // A line of the entry that someone else brought up (its pppd runs) is
  // used but never dialled again nor hung up from here.
  WriteWhole(ppp.config.runFolder + "/ppp-isp.pid", std::to_string(getpid()) + "\nppp7\n");
  ASSERT_TRUE(line.Dial("isp"));
  EXPECT_EQ(ReadWhole(ppp.ponMarker), "isp\n");  // no second dial
  EXPECT_FALSE(line.IsDialled());
  EXPECT_FALSE(line.HangUp());
  EXPECT_EQ(ReadWhole(ppp.poffMarker), "isp\n");  // no second hang-up
  // A pid file left by a pppd that ended is no line.
  WriteWhole(ppp.config.runFolder + "/ppp-isp.pid", "999999999\nppp9\n");
  ASSERT_TRUE(line.Dial("isp"));
  EXPECT_EQ(ReadWhole(ppp.ponMarker), "isp\nisp\n");
  EXPECT_TRUE(line.IsDialled());
  ASSERT_TRUE(line.HangUp());
}

class TransferQueueTest : public ::testing::Test {
 protected:
  static bool WaitHandled(const TransferQueue& queue, std::uint64_t count) {
    return WaitUntil([&] { return queue.HandledCount() >= count; }, 20000);
  }
};

TEST_F(TransferQueueTest, NoConnectionKeepsUploadFile) {
  LogFolder tmp;
  DeliveryContext context;
  TransferQueue queue;
  EXPECT_FALSE(queue.PostTick());  // no thread yet
  queue.SetInternetCheck([] { return false; });
  ASSERT_TRUE(queue.Start(context));
  EXPECT_FALSE(queue.Start(context));
  WriteWhole(tmp.File("event.zip"), "data");
  ASSERT_TRUE(queue.PostUploadJob(tmp.File("event.zip"), "event.zip"));
  ASSERT_TRUE(WaitHandled(queue, 1));
  // The archive waits in the spool for the next try.
  EXPECT_FALSE(Exists(tmp.File("event.zip")));
  EXPECT_EQ(ReadWhole(tmp.File("spool/0000000001.data")), "data");
  EXPECT_NE(tmp.Log().find("No internet connection is avaliable to send mail.\n"),
            std::string::npos);
  EXPECT_NE(
      tmp.Log().find("Upload of " + tmp.File("event.zip") + " failed: no internet connection\n"),
      std::string::npos);
  queue.PostQuit();
  EXPECT_TRUE(queue.WaitForEnd(5000));
  EXPECT_FALSE(queue.PostTick());
}

TEST_F(TransferQueueTest, UploadJobThroughDialledLineAndIdleHangUp) {
  LogFolder tmp;
  FakePpp ppp(tmp);
  ASSERT_EQ(mkdir(tmp.File("root").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(tmp.File("root/in").c_str(), 0700), 0);
  Peer server(tmp.Path(), {"ftp", tmp.File("root"), "cam", "pw"});
  DeliveryContext context(ppp.config);
  context.Settings().Update([&](Settings& s) {
    s.dialup = "isp";
    s.hangup = true;
    s.ftpServer = server.Address();
    s.ftpUser = "cam";
    s.ftpPasswd = "pw";
    s.ftpDir = "in";
  });
  TransferQueue queue;
  queue.SetInternetCheck([] { return false; });
  queue.SetIdleHangUpMs(2500);
  ASSERT_TRUE(queue.Start(context));
  WriteWhole(tmp.File("event.zip"), Pattern(1000));
  ASSERT_TRUE(queue.PostUploadJob(tmp.File("event.zip"), "event.zip"));
  ASSERT_TRUE(WaitHandled(queue, 1));
  EXPECT_EQ(ReadWhole(tmp.File("root/in/event.zip")), Pattern(1000));
  EXPECT_FALSE(Exists(tmp.File("event.zip")));  // handed over and deleted
  const std::string log = tmp.Log();
  const size_t steps[] = {At(log, "Prepare to FTP file " + tmp.File("event.zip") + "\n"),
                          At(log, "FTP server connected\n"),
                          At(log, "FTP switching remote directory succeeded.\n"),
                          At(log, "FTP transfer OK.\n")};
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_NE(steps[i], std::string::npos) << i << log;
    if (i > 0) {
      EXPECT_LT(steps[i - 1], steps[i]);
    }
  }
  EXPECT_EQ(ReadWhole(ppp.ponMarker), "isp\n");

  // Sixteen idle ticks leave the dialled line up; so does a seventeenth that
  // comes in a burst right after the job (ticks that waited behind it). Once
  // the idle time has passed since the job's end, the next tick hangs up.
  for (int i = 0; i < 17; ++i) ASSERT_TRUE(queue.PostTick());
  ASSERT_TRUE(WaitHandled(queue, 18));
  EXPECT_FALSE(Exists(ppp.poffMarker));
  std::this_thread::sleep_for(std::chrono::milliseconds(2600));
  ASSERT_TRUE(queue.PostTick());
  ASSERT_TRUE(WaitHandled(queue, 19));
  EXPECT_EQ(ReadWhole(ppp.poffMarker), "isp\n");

  // A failed FTP login still deletes the file.
  context.Settings().Update([&](Settings& s) { s.ftpPasswd = "bad"; });
  WriteWhole(tmp.File("second.zip"), "x");
  ASSERT_TRUE(queue.PostUploadJob(tmp.File("second.zip"), "second.zip"));
  ASSERT_TRUE(WaitHandled(queue, 20));
  EXPECT_FALSE(Exists(tmp.File("second.zip")));
  EXPECT_NE(tmp.Log().find("Failed to connect FTP server.\n"), std::string::npos);

  // The line dialled again for that job is hung up when the thread ends.
  queue.PostQuit();
  ASSERT_TRUE(queue.WaitForEnd(10000));
  EXPECT_EQ(ReadWhole(ppp.poffMarker), "isp\nisp\n");
}

TEST_F(TransferQueueTest, EntryWithoutPasswordDialsNothing) {
  LogFolder tmp;
  FakePpp ppp(tmp);
  DeliveryContext context(ppp.config);
  context.Settings().Update([](Settings& s) { s.dialup = "other"; });
  TransferQueue queue;
  queue.SetInternetCheck([] { return false; });
  ASSERT_TRUE(queue.Start(context));
  WriteWhole(tmp.File("event.zip"), "data");
  ASSERT_TRUE(queue.PostUploadJob(tmp.File("event.zip"), "event.zip"));
  ASSERT_TRUE(WaitHandled(queue, 1));
  EXPECT_FALSE(Exists(ppp.ponMarker));
  EXPECT_TRUE(Exists(tmp.File("spool/0000000001.data")));
  EXPECT_NE(tmp.Log().find("Failed to connect to internet via other\n"), std::string::npos);
  queue.PostQuit();
  EXPECT_TRUE(queue.WaitForEnd(5000));
}

// A mail server that goes silent after the greeting holds the thread only
// for the receive time-out, and a quit ends the wait at once.
TEST_F(TransferQueueTest, SilentServerDoesNotHoldTheThread) {
  LogFolder tmp;
  Peer server(tmp.Path(), {"fake", "silent", tmp.File("silent.txt")});
  DeliveryContext context;
  context.Settings().Update([&](Settings& s) { s.mailServer = server.Address(); });
  auto makeMail = [] {
    auto mail = std::make_unique<MailMessage>();
    mail->sender = "cam@example.com";
    mail->AddRecipient("a@example.com");
    mail->Compose();
    return mail;
  };
  {
    TransferQueue queue;
    queue.SetInternetCheck([] { return true; });
    queue.SetReceiveTimeout(1);
    ASSERT_TRUE(queue.Start(context));
    ASSERT_TRUE(queue.PostMailJob(makeMail()));
    ASSERT_TRUE(queue.PostTick());
    ASSERT_TRUE(WaitHandled(queue, 2));
    queue.PostQuit();
    EXPECT_TRUE(queue.WaitForEnd(5000));
  }
  {
    TransferQueue queue;
    queue.SetInternetCheck([] { return true; });
    queue.SetReceiveTimeout(600);
    queue.SetQuitGrace(1000);
    ASSERT_TRUE(queue.Start(context));
    ASSERT_TRUE(queue.PostMailJob(makeMail()));
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadWhole(tmp.File("silent.txt")).find("EHLO") != std::string::npos; },
        10000));
    // The quit gives the mail its grace period, then cancels it: the mail
    // waits in the spool.
    queue.PostQuit();
    EXPECT_TRUE(queue.WaitForEnd(5000));
    const std::string job = ReadWhole(tmp.File("spool/0000000002.job"));
    EXPECT_NE(job.find("kind=mail\nremote=\nsender=cam@example.com\nrecipients=a@example.com\n"),
              std::string::npos)
        << job;
  }
}

// An FTP account on a peer: root folder with an "in" directory.
struct FtpAccount {
  FtpAccount(const LogFolder& tmp, const std::string& name, const std::string& readLimit = "")
      : root(tmp.File(name)) {
    mkdir(root.c_str(), 0700);
    mkdir((root + "/in").c_str(), 0700);
    std::vector<std::string> args = {"ftp", root, "cam", "pw"};
    if (!readLimit.empty()) args.insert(args.end(), {"--refuse", "PASV", "--read-limit", readLimit});
    server = std::make_unique<Peer>(tmp.Path(), args);
  }
  void Use(DeliveryContext& context) const {
    context.Settings().Update([&](Settings& s) {
      s.ftpServer = server->Address();
      s.ftpUser = "cam";
      s.ftpPasswd = "pw";
      s.ftpDir = "in";
    });
  }
  std::string root;
  std::unique_ptr<Peer> server;
};

// Failed uploads wait in the spool and go out in their order once the line
// is back; a job queued behind them waits its turn.
TEST_F(TransferQueueTest, SpooledJobsRetriedInOrder) {
  LogFolder tmp;
  FtpAccount ftp(tmp, "root");
  DeliveryContext context;
  ftp.Use(context);
  std::atomic<bool> online{false};
  TransferQueue queue;
  queue.SetInternetCheck([&] { return online.load(); });
  queue.SetRetryPolicy({1}, 3600);
  ASSERT_TRUE(queue.Start(context));
  for (const char* name : {"a.zip", "b.zip"}) {
    WriteWhole(tmp.File(name), Pattern(100 + name[0]));
    ASSERT_TRUE(queue.PostUploadJob(tmp.File(name), name));
  }
  ASSERT_TRUE(WaitHandled(queue, 2));
  EXPECT_TRUE(Exists(tmp.File("spool/0000000001.data")));
  EXPECT_TRUE(Exists(tmp.File("spool/0000000002.data")));
  // The first failed once; the second never ran (it waits behind).
  EXPECT_NE(ReadWhole(tmp.File("spool/0000000001.job")).find("attempts=1\n"), std::string::npos);
  EXPECT_NE(ReadWhole(tmp.File("spool/0000000002.job")).find("attempts=0\n"), std::string::npos);

  online.store(true);
  WriteWhole(tmp.File("c.zip"), Pattern(300));
  ASSERT_TRUE(queue.PostUploadJob(tmp.File("c.zip"), "c.zip"));
  // Retries come with the scheduler's ticks.
  ASSERT_TRUE(WaitUntil(
      [&] {
        queue.PostTick();
        return Exists(tmp.File("spool/0000000003.job")) == false && Exists(ftp.root + "/in/c.zip");
      },
      20000));
  EXPECT_EQ(ReadWhole(ftp.root + "/in/a.zip"), Pattern(100 + 'a'));
  EXPECT_EQ(ReadWhole(ftp.root + "/in/b.zip"), Pattern(100 + 'b'));
  const std::string log = tmp.Log();
  const size_t a = At(log, "Delivered from the spool: " + tmp.File("spool/0000000001.data"));
  const size_t b = At(log, "Delivered from the spool: " + tmp.File("spool/0000000002.data"));
  const size_t c = At(log, "Delivered from the spool: " + tmp.File("spool/0000000003.data"));
  ASSERT_NE(a, std::string::npos) << log;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_FALSE(Exists(tmp.File("spool/0000000001.job")));
  queue.PostQuit();
  EXPECT_TRUE(queue.WaitForEnd(5000));
}

// A job that fails for longer than the give-up age stays in the spool,
// marked, with a log line; it is not tried again.
TEST_F(TransferQueueTest, SpooledJobGivenUpStaysInSpool) {
  LogFolder tmp;
  DeliveryContext context;
  TransferQueue queue;
  queue.SetInternetCheck([] { return false; });
  queue.SetRetryPolicy({0}, 1);
  ASSERT_TRUE(queue.Start(context));
  WriteWhole(tmp.File("event.zip"), "data");
  ASSERT_TRUE(queue.PostUploadJob(tmp.File("event.zip"), "event.zip"));
  ASSERT_TRUE(WaitUntil(
      [&] {
        queue.PostTick();
        return Exists(tmp.File("spool/0000000001.failed"));
      },
      20000));
  EXPECT_EQ(ReadWhole(tmp.File("spool/0000000001.data")), "data");
  EXPECT_NE(tmp.Log().find("the file stays in the spool: " + tmp.File("spool/0000000001.data")),
            std::string::npos);
  queue.PostQuit();
  EXPECT_TRUE(queue.WaitForEnd(5000));
  // Without a transfer thread a new event goes straight to the spool.
  WriteWhole(tmp.File("late.zip"), "late");
  EXPECT_FALSE(queue.PostUploadJob(tmp.File("late.zip"), "late.zip"));
  EXPECT_TRUE(queue.SpoolUpload(tmp.File("late.zip"), "late.zip"));
  EXPECT_EQ(ReadWhole(tmp.File("spool/0000000002.data")), "late");
  EXPECT_FALSE(Exists(tmp.File("late.zip")));
}

// Quit during an upload over a slow line: within the grace period the upload
// completes; past it the archive stays in the spool and the next start
// delivers it.
TEST_F(TransferQueueTest, QuitDuringSlowUpload) {
  LogFolder tmp;
  DeliveryContext context;
  {
    FtpAccount slow(tmp, "slow", "200000");
    slow.Use(context);
    TransferQueue queue;
    queue.SetInternetCheck([] { return true; });
    ASSERT_TRUE(queue.Start(context));
    WriteWhole(tmp.File("done.zip"), Pattern(400000));
    ASSERT_TRUE(queue.PostUploadJob(tmp.File("done.zip"), "done.zip"));
    ASSERT_TRUE(WaitUntil([&] { return Exists(slow.root + "/in/done.zip"); }, 10000));
    queue.PostQuit();
    EXPECT_TRUE(queue.WaitForEnd(20000));
    EXPECT_EQ(ReadWhole(slow.root + "/in/done.zip"), Pattern(400000));
    EXPECT_FALSE(Exists(tmp.File("done.zip")));
    EXPECT_FALSE(Exists(tmp.File("spool/0000000001.job")));
  }
  {
    FtpAccount slow(tmp, "slower", "50000");
    slow.Use(context);
    TransferQueue queue;
    queue.SetInternetCheck([] { return true; });
    queue.SetQuitGrace(1000);
    ASSERT_TRUE(queue.Start(context));
    WriteWhole(tmp.File("cut.zip"), Pattern(1000000));
    ASSERT_TRUE(queue.PostUploadJob(tmp.File("cut.zip"), "cut.zip"));
    ASSERT_TRUE(WaitUntil([&] { return Exists(slow.root + "/in/cut.zip"); }, 10000));
    queue.PostQuit();
    EXPECT_TRUE(queue.WaitForEnd(10000));
    EXPECT_EQ(ReadWhole(tmp.File("spool/0000000001.data")), Pattern(1000000));
  }
  FtpAccount fast(tmp, "fast");
  fast.Use(context);
  TransferQueue queue;
  queue.SetInternetCheck([] { return true; });
  ASSERT_TRUE(queue.Start(context));
  ASSERT_TRUE(WaitUntil([&] { return !Exists(tmp.File("spool/0000000001.job")); }, 20000));
  EXPECT_EQ(ReadWhole(fast.root + "/in/cut.zip"), Pattern(1000000));
  EXPECT_FALSE(Exists(tmp.File("spool/0000000001.data")));
  queue.PostQuit();
  EXPECT_TRUE(queue.WaitForEnd(5000));
}

}  // namespace
}  // namespace qmr
