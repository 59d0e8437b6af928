// The ways a kv23 run can go wrong: each must end with a non-zero exit, one
// line on standard error, and no output file (nor a temporary one) left.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/cli_support.h"

namespace fs = std::filesystem;
using kvtest::RunResult;

namespace {

class Kv23Errors : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kv23-err-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        kvtest::Audio a;
        a.rate = 44100;
        a.channels = 2;
        a.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        a.samples.assign(2 * 4410, 0.25f);
        ASSERT_TRUE(kvtest::writeAudio(dir_ / "in.wav", a));
        std::ofstream(dir_ / "notes.txt") << "not audio\n";
        fs::create_directory(dir_ / "sub");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs kv23 and checks the failure contract.
    void expectFailure(const std::vector<std::string>& args, const std::string& mentioned) {
        SCOPED_TRACE("kv23 " + [&] {
            std::string s;
            for (const auto& a : args)
                s += a + " ";
            return s;
        }());
        const auto before = kvtest::folderNames(dir_);
        const RunResult r = kvtest::runProgram(KV23_BINARY, args, dir_ / "sub");
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.signal, 0) << "kv23 crashed";
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("kv23 ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(mentioned), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(kvtest::folderNames(dir_), before) << "a file was left behind";
        EXPECT_TRUE(fs::is_empty(dir_ / "sub"));
    }

    fs::path dir_;
};

TEST_F(Kv23Errors, BadCommandLinesAreRefused) {
    const std::string in = path("in.wav"), out = path("out.wav"), plug = KV_PLUGIN_PATH;
    expectFailure({"process", in, out, "--plugin", plug, "--bogus"}, "unknown option \"--bogus\"");
    expectFailure({"process", in, "--plugin", plug}, "IN and OUT");
    expectFailure({"process", in, out, "--plugin", plug, "--param", "4=0.5"}, "index 4");
    expectFailure({"process", in, out, "--plugin", plug, "--param", "-1=0.5"}, "index -1");
    expectFailure({"process", in, out, "--plugin", plug, "--param", "0=1.5"}, "outside 0 to 1");
    expectFailure({"process", in, out, "--plugin", plug, "--param", "0=-0.01"}, "outside 0 to 1");
    expectFailure({"process", in, out, "--plugin", plug, "--param", "0=nan"}, "plain number");
    expectFailure({"process", in, out, "--plugin", plug, "--param", "2"}, "N=V");
    expectFailure({"process", in, out, "--plugin", plug, "--gain", "24.5"}, "--gain");
    expectFailure({"process", in, out, "--plugin", plug, "--gain", "3dB"}, "plain number");
    expectFailure({"process", in, out, "--plugin", plug, "--volume", "-33"}, "--volume");
    expectFailure({"process", in, out, "--plugin", plug, "--block", "0"}, "--block");
    expectFailure({"process", in, out, "--plugin", plug, "--block"}, "needs a value");
    expectFailure({"process", in, out, "--plugin", plug, "--rate", "-48000"}, "--rate");
    expectFailure({"info", "--plugin", plug, "extra"}, "unknown argument");
}

TEST_F(Kv23Errors, InputsAndOutputsThatCannotWorkAreRefused) {
    const std::string in = path("in.wav"), plug = KV_PLUGIN_PATH;
    expectFailure({"process", path("missing.wav"), path("out.wav"), "--plugin", plug},
                  "missing.wav");
    expectFailure({"process", path("notes.txt"), path("out.wav"), "--plugin", plug}, "notes.txt");
    expectFailure({"process", path("sub"), path("out.wav"), "--plugin", plug}, "folder");
    expectFailure({"process", in, path("out.xyz"), "--plugin", plug}, "extension");
    expectFailure({"process", in, path("nowhere/out.wav"), "--plugin", plug}, "nowhere");

    // The output may not be the input, under any of its names.
    const auto inBytes = fs::file_size(in);
    expectFailure({"process", in, in, "--plugin", plug}, "same file");
    expectFailure({"process", in, path("sub/../in.wav"), "--plugin", plug}, "same file");
    fs::create_hard_link(in, path("hardlink.wav"));
    expectFailure({"process", in, path("hardlink.wav"), "--plugin", plug}, "same file");
    fs::create_symlink(in, path("symlink.wav"));
    expectFailure({"process", in, path("symlink.wav"), "--plugin", plug}, "same file");
    EXPECT_EQ(fs::file_size(in), inBytes);

    kvtest::Audio six;
    six.rate = 48000;
    six.channels = 6;
    six.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    six.samples.assign(6 * 100, 0.0f);
    ASSERT_TRUE(kvtest::writeAudio(path("six.wav"), six));
    expectFailure({"process", path("six.wav"), path("out.wav"), "--plugin", plug}, "6 channels");
}

TEST_F(Kv23Errors, BrokenPluginFilesAreRefused) {
    const std::string in = path("in.wav"), out = path("out.wav");
    expectFailure({"process", in, out, "--plugin", path("none.so")}, "none.so");
    expectFailure({"process", in, out, "--plugin", path("notes.txt")}, "cannot load");
    expectFailure({"process", in, out, "--plugin", KV_FAKE_NO_ENTRY},
                  "exports neither VSTPluginMain nor main");
    expectFailure({"process", in, out, "--plugin", KV_FAKE_NULL_INSTANCE}, "no instance");
    expectFailure({"process", in, out, "--plugin", KV_FAKE_WRONG_MAGIC}, "wrong magic");
    expectFailure({"info", "--plugin", KV_FAKE_WRONG_MAGIC}, "wrong magic");
}

TEST_F(Kv23Errors, AnInterruptedRunLeavesNoFileBehind) {
    // Eight minutes of audio in one-frame blocks take seconds, long enough
    // to be stopped half-way even on a busy machine.
    kvtest::Audio longInput;
    longInput.rate = 48000;
    longInput.channels = 1;
    longInput.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    longInput.samples.assign(48000 * 480, 0.1f);
    ASSERT_TRUE(kvtest::writeAudio(path("long.wav"), longInput));
    const auto before = kvtest::folderNames(dir_);

    const std::string program = KV23_BINARY;
    const std::string in = path("long.wav"), out = path("out.wav"), plug = KV_PLUGIN_PATH;
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                               const_cast<char*>("process"),
                               const_cast<char*>(in.c_str()),
                               const_cast<char*>(out.c_str()),
                               const_cast<char*>("--block"),
                               const_cast<char*>("1"),
                               const_cast<char*>("--plugin"),
                               const_cast<char*>(plug.c_str()),
                               nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    // Wait until the temporary output exists, then interrupt.
    bool started = false;
    for (int i = 0; i < 500 && !started; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        started = kvtest::folderNames(dir_).size() > before.size();
    }
    EXPECT_TRUE(started);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be interrupted";
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_EQ(kvtest::folderNames(dir_), before);
}

}  // namespace
