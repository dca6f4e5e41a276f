// The tool as users meet it: the built program run with arguments, its exit codes, what
// goes to stdout and stderr, its help, and the man page beside it.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "support/tool_test_support.h"

namespace vexa::tool::test {
namespace {

struct Result {
  int Code = -1;
  std::string Out;
  std::string Err;
};

class CommandLineTest : public ToolTest {
protected:
  void SetUp() override {
#ifndef VEXA_TOOL_BINARY
    GTEST_SKIP() << "the tool is not built in this configuration";
#endif
    ToolTest::SetUp();
  }

  // Runs `vexa Args` in Dir with stdin empty; Env is prepended to the command.
  Result Run(const std::string& Args, const std::string& Env = "") {
#ifdef VEXA_TOOL_BINARY
    const fs::path out = Dir / "stdout.txt";
    const fs::path err = Dir / "stderr.txt";
    const std::string command = "cd '" + Dir.string() + "' && " + Env + " '" + VEXA_TOOL_BINARY +
                                "' " + Args + " </dev/null >'" + out.string() + "' 2>'" +
                                err.string() + "'";
    const int status = std::system(command.c_str());
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", ""};
    const Bytes o = ReadBytes(out), e = ReadBytes(err);
    result.Out.assign(o.begin(), o.end());
    result.Err.assign(e.begin(), e.end());
    fs::remove(out);
    fs::remove(err);
    return result;
#else
    (void)Args, (void)Env;
    return {};
#endif
  }

  // The long options a help text lists.
  static std::set<std::string> Options(const std::string& Help) {
    std::set<std::string> names;
    const std::regex option("(^|[ ,])(--[a-z][a-z-]*)");
    for (auto it = std::sregex_iterator(Help.begin(), Help.end(), option);
         it != std::sregex_iterator(); ++it)
      names.insert((*it)[2]);
    return names;
  }
};

TEST_F(CommandLineTest, ExitCodesSaySuccessFailureOrUsage) {
  Put("in/a.txt", Text("hello"));
  const std::string stub = " --stub '" + StubPath() + "'";

  Result r = Run("pack -o a.exe --temp in" + stub);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_NE(r.Out.find("a.exe: 1 item(s)"), std::string::npos) << r.Out;
  EXPECT_EQ(Run("pack -o c.exe --temp --solid --block-size 64KiB in" + stub).Code, 0);

  for (const char* usage :
       {"", "pack", "frobnicate", "pack -o b.exe in --temp --bogus",
        "pack -o b.exe --temp --ask-folder in", "list", "extract a.exe",
        "pack -o b.exe --temp --method lzma3 in", "pack -o b.exe --temp --store --method lzma2 in",
        "pack -o b.exe --temp --method store --level 3 in",
        "pack -o b.exe --temp --block-size 12Q in", "pack -o b.exe --temp --block-size 0 in",
        "pack -o b.exe --temp --no-solid --block-size 1MiB in"}) {
    r = Run(usage);
    EXPECT_EQ(r.Code, 2) << "vexa " << usage << ": " << r.Err;
    EXPECT_NE(r.Err, "") << "vexa " << usage;
    EXPECT_EQ(r.Out, "") << "vexa " << usage;
  }
  EXPECT_FALSE(fs::exists(Dir / "b.exe"));

  r = Run("list missing.exe");
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err.rfind("vexa: ", 0), 0u) << r.Err;

  r = Run("verify a.exe");
  EXPECT_EQ(r.Code, 0) << r.Err;
  WriteBytes(Dir / "broken.exe", Text("MZ but nothing more"));
  r = Run("verify broken.exe");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("broken.exe"), std::string::npos) << r.Err;

  r = Run("--version");
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Out.find(VEXA_VERSION_TEXT), std::string::npos) << r.Out;
}

TEST_F(CommandLineTest, AFolderTreePacksWithItsPathsAndANameNotInUtf8ShowsItsBytes) {
  Put("app/bin/setup.exe", Text("MZ"));
  Put("app/bin/setup.pdb", Text("-"));
  Put("app/docs/readme.txt", Text("read me"));
  const std::string stub = " --stub '" + StubPath() + "'";
  Result r = Run("pack -o a.exe --temp --exclude '*.pdb' --exclude docs/readme.txt "
                 "--run bin/setup.exe --program-in-destination app" +
                 stub);
  EXPECT_EQ(r.Code, 0) << r.Err;
  r = Run("list a.exe");
  EXPECT_NE(r.Out.find("Program:     bin\\setup.exe (in the destination)"), std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("\nbin\\setup.exe "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\ndocs\\ (empty folder)"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("setup.pdb"), std::string::npos) << r.Out;

  Put("app/caf\xE9.txt", Text("x"));
  r = Run("pack -o b.exe --temp app" + stub);
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("app/caf\\xE9.txt: the name is not valid UTF-8"), std::string::npos)
      << r.Err;
  EXPECT_FALSE(fs::exists(Dir / "b.exe"));
}

TEST_F(CommandLineTest, ADamagedArchiveFailsVerifyWithTheItemNamed) {
  Put("in/a.txt", CompressibleBytes(10000));
  Put("in/b.txt", CompressibleBytes(20000));
  ASSERT_EQ(Run("pack -o a.exe --temp --no-solid in --stub '" + StubPath() + "'").Code, 0);
  RewriteArchive(Path("a.exe"), Path("damaged.exe"), [&](std::vector<pe::Resource>& resources) {
    Bytes item = ResourceBytes(Path("a.exe"), "ITEM2");
    item[item.size() / 2] ^= 0x40;
    SetData(*FindResource(resources, "ITEM2"), item);
  });
  const Result r = Run("verify damaged.exe");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("item 2 (b.txt)"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("a.txt"), std::string::npos) << r.Err;
}

// A stub that does not list LZMA2 among the methods it reads takes every non-zero method
// byte for zlib: it gets deflate, and --method lzma2 is refused, naming the stub.
TEST_F(CommandLineTest, AStubThatReadsNoLzma2GetsDeflate) {
  Put("in/a.txt", CompressibleBytes(10000));
  RewriteArchive(StubPath(), Path("zlib-only.exe"), [](std::vector<pe::Resource>& resources) {
    std::erase_if(resources, [](const pe::Resource& r) {
      return r.Type == pe::ResourceKey::FromName("VEXAMETHODS");
    });
  });
  ASSERT_EQ(Run("pack -o a.exe --temp in --stub zlib-only.exe").Code, 0);
  EXPECT_NE(Run("list a.exe").Out.find(" deflate "), std::string::npos);
  const Result refused = Run("pack -o b.exe --temp --method lzma2 in --stub zlib-only.exe");
  EXPECT_EQ(refused.Code, 2);
  EXPECT_NE(refused.Err.find("the stub zlib-only.exe reads no LZMA2 items"), std::string::npos)
      << refused.Err;
  ASSERT_EQ(Run("pack -o c.exe --temp in --stub '" + StubPath() + "'").Code, 0);
  EXPECT_NE(Run("list c.exe").Out.find(" lzma2 "), std::string::npos);
}

TEST_F(CommandLineTest, OnlyAnArchiveThatVexaPackedFailsForAnImageChecksumThatDoesNotFit) {
  Put("in/a.txt", CompressibleBytes(10000));
  ASSERT_EQ(Run("pack -o a.exe --temp in --stub '" + StubPath() + "'").Code, 0);
  BuildInPlace(StubPath(), Path("a.exe"), Path("in-place.exe"));
  Result r = Run("verify in-place.exe");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_NE(r.Out.find("; image checksum not checked (it does not fit the file, but this "
                       "archive was not packed by vexa: builders that write their resources "
                       "into a copy of the stub leave the stub's own checksum)\n"),
            std::string::npos)
      << r.Out;
  r = Run("verify --json in-place.exe");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("\"image_checksum\": \"not checked\""), std::string::npos) << r.Out;

  // The header lost its item count: the packed archive is refused, nothing written...
  ZeroHeaderCount(Path("a.exe"), Path("zeroed.exe"));
  r = Run("extract zeroed.exe -C unpacked");
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err.rfind("vexa: zeroed.exe: damaged: the image checksum is 0x", 0), 0u) << r.Err;
  EXPECT_FALSE(fs::exists(Dir / "unpacked"));
  r = Run("verify --json zeroed.exe");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Out.find("\"image_checksum\": \"damaged\""), std::string::npos) << r.Out;
  // ...and the one built in place is extracted as the header says, with a warning.
  ZeroHeaderCount(Path("in-place.exe"), Path("zeroed.exe"));
  r = Run("extract zeroed.exe -C unpacked");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "0 file(s) written to unpacked\n");
  EXPECT_EQ(r.Err.rfind("vexa: warning: zeroed.exe: item resources go on past the header's 0 "
                        "item(s) (ITEM1), which are not read;",
                        0),
            0u)
      << r.Err;
}

TEST_F(CommandLineTest, AnItemWithoutAddressSpaceForItsOutputIsNotCalledAFullDisk) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  // Sparse, so no disk space is taken: the input maps under the limit, and the room for
  // its compressed bytes, as long again, does not.
  Put("in/a.bin", Text("x"));
  fs::resize_file(Dir / "in/a.bin", 256u << 20);
  const Result r =
      Run("pack -o a.exe --temp --jobs 1 --method deflate in --stub '" + StubPath() + "'",
          "ulimit -v 400000;");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("cannot make room for an item in the work file a.exe."), std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("into memory: Cannot allocate memory"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("disk"), std::string::npos) << r.Err;
  // LZMA2's encoder at level 9 needs more than the limit before any output.
  const Result lzma2 =
      Run("pack -o a.exe --temp --jobs 1 in --stub '" + StubPath() + "'", "ulimit -v 400000;");
  EXPECT_EQ(lzma2.Code, 1);
  EXPECT_NE(lzma2.Err.find("not enough memory for LZMA2 at this level: its encoder needs"),
            std::string::npos)
      << lzma2.Err;
  for (const auto& entry : fs::directory_iterator(Dir))
    EXPECT_EQ(entry.path().filename(), "in") << "left behind: " << entry.path();
}

TEST_F(CommandLineTest, PasswordsComeFromTheFileOrTheEnvironment) {
  Put("in/a.txt", Text("secret"));
  WriteBytes(Dir / "password.txt", Text("from file\r\nsecond line\r\n"));
  const std::string stub = " --stub '" + StubPath() + "'";
  ASSERT_EQ(Run("pack -o a.exe --temp --password-file password.txt in" + stub).Code, 0);
  EXPECT_EQ(Run("verify a.exe", "VEXA_PASSWORD='from file'").Code, 0);
  EXPECT_EQ(Run("verify a.exe --password-file password.txt").Code, 0);
  const Result wrong = Run("verify a.exe", "VEXA_PASSWORD='from File'");
  EXPECT_EQ(wrong.Code, 1);
  EXPECT_NE(wrong.Err.find("wrong password"), std::string::npos) << wrong.Err;
  // No terminal to ask on.
  EXPECT_EQ(Run("pack -o b.exe --temp --encrypt in" + stub, "env -u VEXA_PASSWORD").Code, 1);
  EXPECT_FALSE(fs::exists(Dir / "b.exe"));

  // The arguments are UTF-8; the archive takes them in its language's code page.
  const Result english = Run("pack -o b.exe --temp --password пароль in" + stub);
  EXPECT_EQ(english.Code, 1);
  EXPECT_NE(english.Err.find("outside the Windows-1252 code page"), std::string::npos)
      << english.Err;
  ASSERT_EQ(Run("pack -o ru.exe --temp --language ru --password пароль in" + stub).Code, 0);
  EXPECT_EQ(Run("verify ru.exe --password пароль").Code, 0);
  EXPECT_EQ(Run("verify ru.exe --password ПАРОЛЬ").Code, 1);
  EXPECT_NE(Run("list ru.exe").Out.find("Code page:   Windows-1251\n"), std::string::npos);
}

TEST_F(CommandLineTest, HelpAndTheManPageNameTheSameOptions) {
  std::ifstream in(VEXA_SOURCE_DIR "/docs/vexa.1");
  std::stringstream page;
  page << in.rdbuf();
  // roff writes a hyphen of an option as \- and switches fonts with \fB, \fI, \fR, \fP.
  const std::string manual = std::regex_replace(
      std::regex_replace(page.str(), std::regex(R"(\\-)"), "-"), std::regex(R"(\\f[BIRP])"), "");
  const std::set<std::string> documented = Options(manual);

  std::set<std::string> listed;
  for (const char* command : {"", "pack ", "list ", "extract ", "verify "}) {
    const Result help = Run(std::string(command) + "--help");
    EXPECT_EQ(help.Code, 0) << command;
    EXPECT_NE(help.Out.find("Exit codes: 0 success, 1 failure"), std::string::npos) << command;
    for (const std::string& option : Options(help.Out))
      listed.insert(option);
  }
  EXPECT_EQ(documented, listed);
  EXPECT_TRUE(listed.count("--program-in-destination"));
}

} // namespace
} // namespace vexa::tool::test
