// exegfx-still and exegfx-merge against what goes wrong around them: closed
// pipes, a second writer, kill -9, a full disk, outputs that cannot be
// written. The last good file survives every one.
#include "partial_file.h"

#include "program_run.h"
#include "read_back.h"
#include "require_all.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>

namespace {

class StillFaults : public ProgramTest {
protected:
  // A program in dir with standard output and error on fd, as user uid if not 0.
  pid_t spawn(const char *path, std::vector<std::string> args, int fd, uid_t uid = 0) {
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) || (uid && (setgroups(0, nullptr) || setgid(uid) || setuid(uid))))
        _exit(126);
      dup2(fd, 1);
      dup2(fd, 2);
      execProgram(path, args);
    }
    return pid;
  }
  // finish, but a program that hangs is killed after a minute (137).
  Outcome finishSoon(pid_t pid) {
    siginfo_t info{};
    for (int k = 0; k < 3000; ++k) {
      if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    return finish(pid);
  }
  Outcome run(const char *path, std::vector<std::string> args) {
    return finishSoon(startProgram(path, args));
  }
  Outcome still(std::vector<std::string> args) {
    args.insert(args.begin(), {"--size", "64x36"});
    return run(EXEGFX_STILL_PATH, args);
  }
  // The frames a partial holds, or why it cannot be read.
  std::string frames(const std::string &name, std::vector<float> *sum = nullptr) {
    PartialInfo info;
    std::vector<float> s;
    std::string error;
    if (!readPartial(dir + "/" + name, info, sum ? *sum : s, error)) return error;
    return formatFrameRanges(info.frames);
  }
  Picture picture(const std::string &name) { return readBack(dir + "/" + name); }
};

TEST_F(StillFaults, ClosedPipesEndThePrintingNeverTheRunOrItsFile) {
  int dead[2];
  ASSERT_EQ(pipe(dead), 0);
  close(dead[0]);
  std::vector<std::string> args = {"--size", "64x36", "--frames", "3", "-o", "p.exr"};
  EXPECT_EQ(finishSoon(spawn(EXEGFX_STILL_PATH, args, dead[1])).exitCode, 0);
  EXPECT_EQ(finishSoon(spawn(EXEGFX_MERGE_PATH, {"-o", "m.exr", "p.exr"}, dead[1])).exitCode, 0);
  close(dead[1]);
  EXPECT_EQ(frames("p.exr"), "1-3");
  EXPECT_EQ(frames("m.exr"), "1-3");

  // The reader goes after the first frame, then a stop signal comes (Ctrl-C
  // on `| tee`): the frames done are written, and the exit names the signal.
  int log[2];
  ASSERT_EQ(pipe(log), 0);
  pid_t pid = spawn(EXEGFX_STILL_PATH, {"--size=64x36", "--frames=9999", "-o", "s.exr"}, log[1]);
  close(log[1]);
  std::string seen;
  char buffer[4096];
  for (ssize_t n; !has(seen, "progress frames=1/") && (n = read(log[0], buffer, 4096)) > 0;)
    seen.append(buffer, static_cast<std::size_t>(n));
  close(log[0]);
  kill(pid, SIGTERM);
  Outcome r = finishSoon(pid);
  EXPECT_EQ(r.exitCode, 143);
  EXPECT_FALSE(r.killed);
  EXPECT_EQ(frames("s.exr").substr(0, 1), "1") << frames("s.exr");
}

TEST_F(StillFaults, OneWriterPerOutputAndKilledRunsResumeBitForBit) {
  for (const char *name : {"r.exr.partial-Ab12Cd", "r.exr.partial-keep", "s.exr.partial-Ab12Cd"})
    std::ofstream(dir + "/" + name) << "left by others";
  const std::vector<std::string> cmd = {
      "--size", "64x36", "--frames", "16", "--checkpoint-every", "0.01", "--resume", "-o", "r.exr"};
  pid_t first = startProgram(EXEGFX_STILL_PATH, cmd);
  ASSERT_TRUE(waitForErr("checkpoint frames="));
  EXPECT_TRUE(has(contents(logs + "/err"), "note: removed \"r.exr.partial-Ab12Cd\""));

  // A second writer is refused before any GL work, a merge into the file too.
  Outcome second = run(EXEGFX_STILL_PATH, cmd);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_TRUE(has(second.err, "\"r.exr\" is being written by another process (pid " +
                                  std::to_string(first) + "), which holds its lock \"r.exr.lock\""))
      << second.err;
  EXPECT_FALSE(has(second.out, "Shader prog"));
  Outcome merge = run(EXEGFX_MERGE_PATH, {"-o", "r.exr", "r.exr"});
  EXPECT_EQ(merge.exitCode, 1);
  EXPECT_TRUE(has(merge.err, "is being written by another process")) << merge.err;

  // kill -9 at any moment, in a write too, takes the lock with it; resuming
  // after each kill ends with one uninterrupted run's sum.
  std::mt19937 random(12345);
  for (int kills = 0; kills < 3; ++kills) {
    if (kills > 0) first = startProgram(EXEGFX_STILL_PATH, cmd);
    ASSERT_TRUE(waitForErr("checkpoint frames=")) << contents(logs + "/err");
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
    kill(first, SIGKILL);
    finish(first);
  }
  // The kills landed mid-run, and the last run resumed the frames they left.
  const Picture killed = picture("r.exr");
  ASSERT_EQ(killed.frames.size(), 1u);
  ASSERT_LT(killed.frames[0].last, 16u) << "the kills came after the last frame";
  const std::string left = formatFrameRanges(killed.frames);
  Outcome last = still(cmd);
  ASSERT_EQ(last.exitCode, 0);
  EXPECT_TRUE(has(last.err, "Resuming r.exr, which holds frames " + left + ": ")) << last.err;
  ASSERT_EQ(still({"--frames", "16", "-o", "ref.exr"}).exitCode, 0);
  Picture resumed = picture("r.exr"), reference = picture("ref.exr");
  EXPECT_EQ(formatFrameRanges(resumed.frames), "1-16");
  EXPECT_EQ(formatFrameRanges(reference.frames), "1-16");
  EXPECT_EQ(resumed.mean.sum, reference.mean.sum);
  ASSERT_TRUE(reference.hasSquares());
  EXPECT_EQ(resumed.mean.squares, reference.mean.squares);
  std::vector<std::string> names = entries(dir);
  std::sort(names.begin(), names.end());
  // Lock files go with their writers; another output's leftovers stay.
  EXPECT_EQ(names, (std::vector<std::string>{"r.exr", "r.exr.partial-keep", "ref.exr",
                                             "s.exr.partial-Ab12Cd"}));
}

TEST_F(StillFaults, ClosedDescriptorsAndFileSizeLimitsAreMetLikeAnyBadInput) {
  // Started with 0-2 closed, as daemons may: the lock and the pictures never
  // become standard output or error, and a stop's notice stays out of them.
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    for (int fd = 0; fd <= 2; ++fd)
      close(fd);
    std::vector<std::string> args = {"--size=64x36", "--frames=9999", "--checkpoint-every=0.01",
                                     "-o", "c.exr"};
    execProgram(EXEGFX_STILL_PATH, args);
  }
  for (int k = 0; k < 3000 && access((dir + "/c.exr").c_str(), F_OK) != 0; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (int fd = 0; fd <= 2; ++fd) {
    char target[256] = {};
    std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    EXPECT_GT(readlink(link.c_str(), target, sizeof target - 1), 0) << link;
    EXPECT_STREQ(target, "/dev/null") << link;
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(finishSoon(pid).exitCode, 143);
  EXPECT_EQ(frames("c.exr").substr(0, 1), "1") << frames("c.exr");
  EXPECT_FALSE(has(contents(dir + "/c.exr"), "SIGTERM"));

  // A file size limit (ulimit -f) fails the write like a full disk, with the
  // last good file kept, instead of killing the program with SIGXFSZ.
  ASSERT_EQ(still({"--frames", "2", "-o", "r.exr"}).exitCode, 0);
  const std::string good = contents(dir + "/r.exr");
  auto limited = [&](const char *path, std::vector<std::string> args) {
    // The soft limit alone: without CAP_SYS_RESOURCE (containers) a lowered
    // hard limit could not be raised again, and this test process would die of
    // SIGXFSZ at its next large write.
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limit{16384, before.rlim_max};
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0); // inherited by the program started now
    pid_t pid = startProgram(path, args);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0)
        << "the test's own file size limit stays lowered";
    return finishSoon(pid);
  };
  for (const Outcome &o : {limited(EXEGFX_STILL_PATH, {"--size=64x36", "--frames=3", "--resume",
                                                       "--checkpoint-every=0.01", "-o", "r.exr"}),
                           limited(EXEGFX_MERGE_PATH, {"-o", "m.exr", "r.exr"})}) {
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_TRUE(has(o.err, "File too large")) << o.err;
  }
  EXPECT_TRUE(contents(dir + "/r.exr") == good) << "r.exr changed";
  EXPECT_EQ(access((dir + "/m.exr").c_str(), F_OK), -1);
}

TEST_F(StillFaults, OutputsThatCannotBeWrittenAreRefusedBeforeAnyFrame) {
  ASSERT_EQ(mkfifo((dir + "/f.exr").c_str(), 0644), 0);
  struct Case {
    const char *program;
    std::vector<std::string> args;
    const char *mention;
  } cases[] = {
      // The temporary name adds 15 bytes to these 250.
      {EXEGFX_STILL_PATH,
       {"--size=8x8", "--frames=1", "-o", std::string(246, 'a') + ".png"},
       "name is too long"},
      {EXEGFX_STILL_PATH,
       {"--size=8x8", "--frames=1", "--resume", "-o", "f.exr"},
       "not a regular file (a FIFO)"},
      {EXEGFX_MERGE_PATH, {"-o", "f.exr", "f.exr"}, "is not a regular file (a FIFO)"},
  };
  for (const Case &c : cases) {
    Outcome r = run(c.program, c.args);
    EXPECT_EQ(r.exitCode, 1) << c.mention << " (137: it hung)";
    EXPECT_TRUE(has(r.err, c.mention)) << c.mention << " not in: " << r.err;
    EXPECT_FALSE(has(r.out, "Shader prog")) << c.mention;
  }
  EXPECT_EQ(entries(dir), std::vector<std::string>{"f.exr"});

  // A link is written through: --resume reads its target, the target gets
  // the frames, and the link stays.
  ASSERT_EQ(mkdir((dir + "/real").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real/r.exr", (dir + "/l.exr").c_str()), 0);
  ASSERT_EQ(still({"--frames", "2", "-o", "real/r.exr"}).exitCode, 0);
  Outcome r = still({"--frames", "3", "--resume", "-o", "l.exr"});
  EXPECT_TRUE(has(r.err, "holds frames 1-2")) << r.err;
  struct stat st;
  EXPECT_TRUE(lstat((dir + "/l.exr").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_EQ(frames("real/r.exr"), "1-3");

  // The noise map never replaces the picture or a part, whatever names or
  // links lead there.
  ASSERT_EQ(symlink("n.png", (dir + "/ln.png").c_str()), 0);
  for (std::vector<std::string> args : {std::vector<std::string>{"--noise-map", "./n.png"},
                                        {"--noise-map", "ln.png"},
                                        {"--noise-map", "real/../n.png"}}) {
    args.insert(args.end(), {"-o", "n.png", "real/r.exr"});
    r = run(EXEGFX_MERGE_PATH, args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "name the same file")) << r.err;
  }
  ASSERT_EQ(symlink("real/r.exr", (dir + "/lp.png").c_str()), 0);
  r = run(EXEGFX_MERGE_PATH, {"--noise-map", "lp.png", "-o", "m.png", "real/r.exr"});
  EXPECT_TRUE(has(r.err, "the map would replace its frames")) << r.err;
  EXPECT_EQ(access((dir + "/n.png").c_str(), F_OK), -1);
  EXPECT_EQ(frames("real/r.exr"), "1-3");

  // --info reads what it reports: a damaged part is refused there too.
  std::string damaged = contents(dir + "/real/r.exr");
  damaged[damaged.size() - 9] ^= 1;
  std::ofstream(dir + "/d.exr", std::ios::binary) << damaged;
  r = run(EXEGFX_MERGE_PATH, {"--info", "d.exr"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(has(r.err, "damaged")) << r.err;
}

// Another user's file in a sticky folder, which rename may not replace.
TEST_F(StillFaults, AnotherUsersFileInAStickyFolderIsLeftAlone) {
  if (geteuid() != 0) SKIP_UNLESS_REQUIRED("making another user's file needs root");
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/tmp").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir + "/tmp").c_str(), 01777), 0);
  std::ofstream(dir + "/tmp/o.png") << "root's picture";
  int err = open((logs + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Outcome r = finishSoon(
      spawn(EXEGFX_STILL_PATH, {"--size=8x8", "--frames=1", "-o", "tmp/o.png"}, err, 65534));
  close(err);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(has(r.err, "belongs to another user")) << r.err;
  EXPECT_EQ(contents(dir + "/tmp/o.png"), "root's picture");
}

// A mount namespace of this process's own; without the right to make one
// (not root), in a user namespace of its own, as this user's root there.
bool ownMountNamespace() {
  if (unshare(CLONE_NEWNS) == 0) return true;
  const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  auto write = [](const char *path, const std::string &text) {
    std::ofstream file(path);
    return static_cast<bool>(file << text << std::flush);
  };
  return write("/proc/self/setgroups", "deny") && write("/proc/self/uid_map", "0 " + uid + " 1") &&
         write("/proc/self/gid_map", "0 " + gid + " 1");
}

TEST_F(StillFaults, AFullDiskKeepsTheLastGoodFile) {
  // A small tmpfs in a mount namespace of this test process, gone with it.
  std::string small = dir + "/small";
  ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
  if (!ownMountNamespace() || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
      mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k"))
    SKIP_UNLESS_REQUIRED("no tmpfs can be mounted: " << std::strerror(errno));
  ASSERT_EQ(still({"--frames", "2", "-o", "small/r.exr"}).exitCode, 0);
  std::string good = contents(small + "/r.exr");
  std::ofstream fill(small + "/fill", std::ios::binary);
  for (std::string block(4096, 'x'); fill.write(block.data(), block.size());)
    ;
  // Checkpoints fail and rendering goes on; then the final write fails.
  pid_t pid = startProgram(EXEGFX_STILL_PATH, {"--size=64x36", "--frames=9999", "--resume",
                                               "--checkpoint-every=0.01", "-o", "small/r.exr"});
  ASSERT_TRUE(waitForErr("checkpoint failed", 2)) << contents(logs + "/err");
  kill(pid, SIGTERM);
  Outcome r = finishSoon(pid);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(has(r.err, "No space left on device; \"small/r.exr\" is unchanged.")) << r.err;
  EXPECT_TRUE(contents(small + "/r.exr") == good) << "r.exr changed";
  std::vector<std::string> names = entries(small);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"fill", "r.exr"}));

  // A picture and its noise map are written both or neither: here the map
  // meets the full disk, so the picture beside it is not written either.
  r = run(EXEGFX_MERGE_PATH, {"--noise-map", "small/n.png", "-o", "m.pfm", "small/r.exr"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(has(r.err, "No space left on device") && has(r.err, "Nothing was written")) << r.err;
  EXPECT_EQ(access((dir + "/m.pfm").c_str(), F_OK), -1);
  umount2(small.c_str(), MNT_DETACH);
}

} // namespace
