// Who may capture: members of the helper's group may, others are told they lack the rights,
// and neither the window nor its stand-in ever holds a capability. The test installs copies of
// the programs as an installation would (the helper owned by root and a group of the test's
// own, mode 0750, cap_net_raw=ep) and runs them as users it creates; it removes them all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "capture/linux/CaptureHelper.h"
#include "testsupport/NetnsLab.h"
#include "testsupport/TcpExchange.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Beside(const std::string& name) {
  return fs::read_symlink("/proc/self/exe").parent_path() / name;
}

class CaptureRights : public testing::Test {
 protected:
  void SetUp() override {
    if (auto reason = NetnsUnavailable()) GTEST_SKIP() << *reason;
    for (const char* tool : {"groupadd", "useradd", "setpriv", "setcap"})
      if (!Shell(std::string("command -v ") + tool)) GTEST_SKIP() << "needs " << tool;
    const std::string id = std::to_string(::getpid());
    FGroup = "qvt" + id;
    FMember = "qvi" + id;
    FOutsider = "qvo" + id;
    ASSERT_TRUE(Shell("groupadd --system " + FGroup));
    ASSERT_TRUE(Shell("useradd --system --no-create-home -G " + FGroup + " " + FMember));
    ASSERT_TRUE(Shell("useradd --system --no-create-home " + FOutsider));
    char directory[] = "/tmp/quorvel-rights-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    FDirectory = directory;
    fs::permissions(FDirectory, fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    const std::string helper = FDirectory + "/" + kCaptureHelperName;
    fs::copy_file(Beside("capture_probe"), FDirectory + "/capture_probe");
    fs::copy_file(Beside(kCaptureHelperName), helper);
    ASSERT_TRUE(Shell("chown root:" + FGroup + " " + helper + " && chmod 0750 " + helper +
                      " && setcap cap_net_raw=ep " + helper));
  }

  void TearDown() override {
    if (!FDirectory.empty()) fs::remove_all(FDirectory);
    if (!FMember.empty()) {
      Shell("userdel " + FMember);
      Shell("userdel " + FOutsider);
      Shell("groupdel " + FGroup);
    }
  }

  // The probe run as `user` in namespace A, with an exchange once its capture is set up (or
  // has failed to be), which it then keeps for a second.
  std::string ProbeAs(const std::string& user) {
    const std::string command = "ip netns exec " + FLab.A.Name() + " setpriv --reuid=" + user +
                                " --regid=" + user + " --init-groups " + FDirectory +
                                "/capture_probe " + TVethLab::kAddressA + " 1000 2>&1";
    std::FILE* probe = ::popen(command.c_str(), "r");
    if (!probe) return "cannot run the probe";
    std::string output;
    char line[4096];
    while (std::fgets(line, sizeof line, probe)) {
      output += line;
      if (output.ends_with("set up\n")) Exchange(FLab.A, FLab.B, TVethLab::kAddressB);
    }
    ::pclose(probe);
    return output;
  }

  TVethLab FLab;
  std::string FGroup, FMember, FOutsider, FDirectory;
};

TEST_F(CaptureRights, AMemberOfTheGroupCapturesWithoutAnyCapability) {
  const std::string output = ProbeAs(FMember);
  EXPECT_NE(output.find("CapEff 0 CapPrm 0\n"), std::string::npos) << output;
  EXPECT_NE(output.find("payload GET /index"), std::string::npos) << output;
  EXPECT_NE(output.find("payload 200 OK"), std::string::npos) << output;
  EXPECT_NE(output.find("failure \n"), std::string::npos) << output;
}

TEST_F(CaptureRights, AnyoneElseIsToldWhatRightsAreMissing) {
  const std::string output = ProbeAs(FOutsider);
  EXPECT_NE(output.find("failure Capture on '10.199.0.1' failed at open: Permission denied "
                        "(error 13); capturing needs administrator rights (root or "
                        "CAP_NET_RAW, which members of the group quorvel have)"),
            std::string::npos)
      << output;
}

// Started with a capability, as root or with one granted to its file, the window gives them
// all up before Qt reads anything.
TEST_F(CaptureRights, TheWindowHoldsNoCapability) {
  if (!fs::exists(Beside("quorvel"))) GTEST_SKIP() << "the window is not built";
  const std::string window = FDirectory + "/quorvel";
  fs::copy_file(Beside("quorvel"), window);
  ASSERT_TRUE(Shell("setcap cap_net_raw=ep " + window));
  for (const std::string& user : {std::string("root"), FMember}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::execlp("setpriv", "setpriv", ("--reuid=" + user).c_str(), ("--regid=" + user).c_str(),
               "--init-groups", window.c_str(), nullptr);
      ::_exit(127);
    }
    std::map<std::string, std::string> caps;
    for (int i = 0; i < 300 && caps.size() < 2; ++i) {
      std::this_thread::sleep_for(10ms);
      if (CommandName(pid) != "quorvel") continue;  // not yet exec'd
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      std::string line;
      caps.clear();
      while (std::getline(status, line)) {
        if (line.starts_with("CapEff:") || line.starts_with("CapPrm:"))
          caps[line.substr(0, 6)] = line.substr(line.find_first_not_of(" \t", 7));
      }
      // Until main has run, the file's capability is still held.
      if (caps["CapPrm"] != "0000000000000000") caps.clear();
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(caps["CapEff"], "0000000000000000") << user;
    EXPECT_EQ(caps["CapPrm"], "0000000000000000") << user;
  }
}

}  // namespace
