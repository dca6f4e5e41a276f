#include "packer/pack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "archive/item_paths.h"
#include "archive/vexa_header.h"
#include "crypto/password_check.h"
#include "pe/pe_test_util.h"
#include "pe/resource_writer.h"
#include "pe/version_info.h"
#include "reader/archive_file.h"
#include "reader/inspect.h"
#include "support/tool_test_support.h"
#include "texts/languages.h"
#include "texts/stub_texts.h"
#include "tool_base/tool_error.h"

namespace vexa::tool::test {
namespace {

class PackTest : public ToolTest {
protected:
  // Packing Options fails with a message containing Expected, and leaves the folder as it
  // was: the earlier out.exe unchanged and no work file behind.
  void ExpectRefused(const PackOptions& Options, const std::string& Expected,
                     int ExitCode = ExitFailure) {
    WriteBytes(Dir / "out.exe", Text("earlier archive"));
    const std::vector<fs::path> before = Listing();
    try {
      RunPackCommand(Options);
      ADD_FAILURE() << "packed although it should have been refused with: " << Expected;
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(Expected), std::string::npos)
          << "message: " << e.what() << "\nexpected to contain: " << Expected;
      EXPECT_EQ(e.ExitCode(), ExitCode) << e.what();
    }
    EXPECT_EQ(ReadBytes(Dir / "out.exe"), Text("earlier archive"));
    EXPECT_EQ(Listing(), before);
  }

  std::vector<fs::path> Listing() const {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(Dir))
      paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  // The header's text section: the bytes after the block and the one item record.
  std::string HeaderLines(const std::string& Archive = "out.exe") {
    const Bytes header = ResourceBytes(Path(Archive), "HEADER");
    return std::string(header.begin() + 656 + 81, header.end());
  }

  std::string Listing(const std::string& Archive) {
    std::ostringstream out, err;
    ListArchive(Path(Archive), false, out, err);
    EXPECT_EQ(err.str(), "") << Archive;
    return out.str();
  }

  TVexaHeader Header(const std::string& Archive = "out.exe") {
    const TArchiveFile archive(Path(Archive));
    TVexaHeader copy;
    copy.Block = archive.Header().Block;
    for (const auto& item : archive.Header().Items)
      copy.Items.push_back(std::make_unique<TItemRecord>(*item));
    return copy;
  }
};

TEST_F(PackTest, RefusesInputsTheArchiveCannotHold) {
  const fs::path ok = Put("ok.txt", Text("x"));
  Put("cased/é.txt", Text("x"));
  Put("cased/É.TXT", Text("y"));
  ExpectRefused(Options({Dir / "cased"}), "differ only in case");

  ExpectRefused(Options({Dir / "missing.txt"}), "missing.txt: no such file or folder");

  // Sparse: no disk space is taken, and the size check comes before any reading.
  const fs::path huge = Dir / "huge.bin";
  WriteBytes(huge, {});
  fs::resize_file(huge, 0x100000000ull);
  ExpectRefused(Options({ok, huge}), "huge.bin: the file is 4 GiB or larger");
  fs::remove(huge);
}

// Each tree holds one path that Windows or the archive cannot take, or two that Windows
// takes for one; the refusal names them and nothing is written.
TEST_F(PackTest, RefusesTreesWindowsCannotHold) {
  struct Case {
    std::vector<const char*> Files; // below Dir: in t, u (a second input) or files given
    const char* Link;               // Dir/t/link leads there, when given
    const char* Expected;
  };
  const Case cases[] = {
      {{"t/x.txt", "u/x.txt"}, nullptr, "t/x.txt would both be the item x.txt"},
      {{"t/Sub/a.txt", "t/SUB/a.txt"}, nullptr, "differ only in case"},
      {{"t/lib", "u/lib/x.dll"}, nullptr, "t/lib is a file where"},
      {{"t/lib/x.dll", "u/LIB"}, nullptr, "u/LIB is a file where"},
      {{"t/con/x.txt"}, nullptr, "t/con/x.txt: the folder name con has the device name CON"},
      {{"t/bin/COM0.txt"}, nullptr, "COM0.txt: the name has the form of a device name"},
      {{"t/dir./x.txt"}, nullptr, "the folder name dir. has a trailing dot"},
      {{"t/a\\b.txt"}, nullptr, "the character '\\'"},
      {{"t/caf\xE9/x.txt"}, nullptr, "t/caf\\xE9: the name is not valid UTF-8"},
      {{"t/a.txt", "caf\xE9.txt"}, nullptr, "/caf\\xE9.txt: the name is not valid UTF-8"},
      {{"t/a.txt", "elsewhere/x.txt"}, "elsewhere", "t/link: is a symbolic link to a folder"},
      {{"t/a.txt"}, "nowhere", "t/link: not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Expected);
    for (const char* root : {"t", "u", "elsewhere"})
      fs::remove_all(Dir / root);
    for (const char* file : c.Files)
      Put(file, Text("x"));
    if (c.Link)
      fs::create_symlink(Dir / c.Link, Dir / "t" / "link");
    std::vector<fs::path> inputs = {Dir / "t"};
    if (fs::exists(Dir / "u"))
      inputs.push_back(Dir / "u");
    // A file outside t and u is an input of its own.
    for (const char* file : c.Files)
      if (!std::strchr(file, '/'))
        inputs.push_back(Dir / file);
    ExpectRefused(Options(inputs), c.Expected);
    for (const char* file : c.Files)
      if (!std::strchr(file, '/'))
        fs::remove(Dir / file);
  }
}

TEST_F(PackTest, RefusesMoreItemsThanTheResourceDirectoryHolds) {
  // 65535 named RCDATA entries at most, HEADER being one of them.
  fs::create_directories(Dir / "many");
  for (int i = 0; i < 65535; ++i)
    std::ofstream(Dir / "many" / std::to_string(i));
  ExpectRefused(Options({Dir / "many"}), "there are 65535 files; an archive holds at most 65534");
}

TEST_F(PackTest, RefusesAnArchiveTooLargeForA32BitImageBeforeReadingIt) {
  std::vector<fs::path> inputs;
  for (const char* name : {"a.bin", "b.bin"}) {
    inputs.push_back(Dir / name);
    WriteBytes(inputs.back(), {});
    fs::resize_file(inputs.back(), 1100u << 20);
  }
  PackOptions options = Options(inputs);
  options.Store = true;
  ExpectRefused(options, "a 32-bit Windows program holds at most");
}

// The size judged is the one the loader reads from the written headers, and the table
// of `vexa list` shows the same.
TEST_F(PackTest, WarnsOfAnImageThat32BitWindowsMayFindNoRoomFor) {
  EXPECT_EQ(ImageSizeWarning(pe::Mappable32BitImageSize), "");
  EXPECT_NE(ImageSizeWarning(pe::Mappable32BitImageSize + 1).find("32-bit Windows"),
            std::string::npos);

  const PackReport report = RunPackCommand(Options({Put("a.txt", Text("a"))}));
  const Bytes image = ReadBytes(Dir / "out.exe");
  std::uint32_t peOffset = 0, sizeOfImage = 0;
  std::memcpy(&peOffset, &image.at(0x3C), 4);
  std::memcpy(&sizeOfImage, &image.at(peOffset + 24 + 56), 4);
  EXPECT_EQ(report.ImageSize, sizeOfImage);
  std::ostringstream table, err;
  ListArchive(Path("out.exe"), false, table, err);
  EXPECT_NE(table.str().find("Image:       " + std::to_string(sizeOfImage) + " bytes in memory\n"),
            std::string::npos)
      << table.str();
}

TEST_F(PackTest, RefusesOptionsThatDoNotFitOrDoNotWorkTogether) {
  const fs::path setup = Put("setup.exe", Text("MZ"));
  const fs::path empty = Put("empty.exe", {});

  PackOptions o = Options({setup});
  o.TempFolder = false;
  o.FixedFolder = std::string(257, 'd');
  ExpectRefused(o, "--dest: the path is 257 bytes long", ExitUsage);

  o = Options({setup});
  o.Run = std::string(256, 'r');
  ExpectRefused(o, "--run: the path is 256 bytes long", ExitUsage);

  o = Options({setup});
  o.Run = "install.exe";
  o.ProgramInDestination = true;
  ExpectRefused(o, "--program-in-destination: --run install.exe names no file", ExitUsage);

  // The extractor takes an empty program for a missing one.
  o = Options({setup, empty});
  o.Run = "EMPTY.EXE";
  o.ProgramInDestination = true;
  ExpectRefused(o, "empty.exe is empty");

  o = Options({setup});
  o.Store = true;
  o.Level = 9;
  ExpectRefused(o, "--store and --level", ExitUsage);

  o = Options({setup});
  o.Level = 13;
  ExpectRefused(o, "--level takes 0 to 12", ExitUsage);

  o = Options({setup});
  o.Jobs = 0;
  ExpectRefused(o, "--jobs takes 1 or more", ExitUsage);

  o = Options({setup});
  o.BlockSize = 0;
  ExpectRefused(o, "--block-size takes 1 byte to 4 GiB - 1, not 0", ExitUsage);
  o.BlockSize = 1ull << 32;
  ExpectRefused(o, "--block-size takes 1 byte to 4 GiB - 1, not 4294967296", ExitUsage);
  o.BlockSize = 1 << 20;
  o.Solid = false;
  ExpectRefused(o, "--block-size limits solid blocks: --no-solid has none", ExitUsage);

  o = Options({setup});
  o.Title = "Caption";
  ExpectRefused(o, "--title", ExitUsage);

  o = Options({setup});
  o.WaitAndDelete = true;
  ExpectRefused(o, "need --run", ExitUsage);

  o = Options({setup});
  o.Welcome = "Install ☃?";
  ExpectRefused(o, "--welcome: the text has a character outside", ExitUsage);

  o = Options({setup});
  o.Icon = Put("bad.ico", Text("not an icon")).string();
  ExpectRefused(o, "bad.ico is not a usable .ico file");

  // The version fields: options are usage errors, a file's lines name their number.
  o = Options({setup});
  o.Version.Company = "";
  ExpectRefused(o, "--company: the text is empty", ExitUsage);
  o.Version.Company = std::string(MaxVersionText + 1, 'c');
  ExpectRefused(o, "--company: the text is 1025 characters long", ExitUsage);
  o.Version.Company = "Line\tbreak";
  ExpectRefused(o, "--company: the text holds a control character", ExitUsage);
  const struct {
    const char* File;
    const char* Expected;
  } files[] = {
      {"# ours\n\ndescription=Setup\nproduct=Vexa\n", "v.txt:4: unknown key \"product\""},
      {"company=A\r\ncompany=B\r\n", "v.txt:2: company is given twice"},
      {"description Setup\n", "v.txt:1: expected key=value"},
      {"copyright=\n", "v.txt:1: the text is empty"},
      {"description=caf\xE9\n", "v.txt:1: the text is not valid UTF-8"},
      {"# nothing\n", "v.txt: the file gives no field"},
  };
  for (const auto& f : files) {
    o = Options({setup});
    o.Version.File = Put("v.txt", Text(f.File)).string();
    ExpectRefused(o, f.Expected);
  }
}

TEST_F(PackTest, RefusesOutputsThatCannotBeWritten) {
  const fs::path setup = Put("setup.exe", Text("MZ"));
  ExpectRefused(Options({setup}, "nowhere/out.exe"), "the folder");
  fs::create_directories(Dir / "folder.exe");
  ExpectRefused(Options({setup}, "folder.exe"), "folder.exe: is a folder");
  ExpectRefused(Options({setup, Dir / "out.exe"}), "is also one of the files to pack", ExitUsage);
}

TEST_F(PackTest, AcceptsEveryFieldAtItsFullWidth) {
  const std::string name32(32, 'n');
  const std::string program(255, 'p');
  const std::string destination(256, 'd');
  PackOptions o = Options({Put(name32, Text("x"))});
  o.TempFolder = false;
  o.FixedFolder = destination;
  o.Run = program;
  RunPackCommand(o);
  const TVexaHeader header = Header();
  EXPECT_EQ(FileName(*header.Items[0]), name32);
  EXPECT_EQ(header.DestinationPath(), destination);
  EXPECT_EQ(header.ProgramPath(), program);
}

TEST_F(PackTest, EachOptionSetsItsHeaderFlag) {
  const fs::path setup = Put("setup.exe", Text("MZ"));
  struct Case {
    std::function<void(PackOptions&)> Set;
    std::uint8_t Flags;
  };
  const Case cases[] = {
      {[](PackOptions&) {}, hfTempFolder},
      {[](PackOptions& o) { o.TempFolder = false, o.AskFolder = true; }, hfAskFolder},
      {[](PackOptions& o) { o.TempFolder = false, o.FixedFolder = "C:\\Setup"; }, hfFixedFolder},
      {[](PackOptions& o) { o.Password.Text = "secret"; }, hfTempFolder | hfEncrypted},
      {[](PackOptions& o) { o.Run = "setup.exe"; }, hfTempFolder | hfRunProgram},
      {[](PackOptions& o) {
         o.Run = "setup.exe", o.WaitAndDelete = true, o.AlwaysConfirm = true,
         o.ProgramInDestination = true;
       },
       hfTempFolder | hfRunProgram | hfWaitAndDelete | hfAlwaysConfirm | hfProgramInDestination},
  };
  for (const Case& c : cases) {
    PackOptions o = Options({setup});
    c.Set(o);
    RunPackCommand(o);
    EXPECT_EQ(Header().Flags(), c.Flags);
  }
}

TEST_F(PackTest, AFolderContributesItsFilesInNameOrderAndWindows1252Names) {
  Put("in/b.txt", Text("b"));
  Put("in/a.txt", Text("a"));
  Put("in/café.txt", Text("c"));
  Put("in/Z.txt", Text("z"));
  RunPackCommand(Options({Dir / "in"}));
  const TVexaHeader header = Header();
  std::vector<std::string> names;
  for (const auto& item : header.Items)
    names.push_back(FileName(*item));
  EXPECT_EQ(names, (std::vector<std::string>{"Z.txt", "a.txt", "b.txt", "caf\xE9.txt"}));
  // Every name is its path: the archive is what readers without ITEMPATHS always read.
  const TArchiveFile archive(Path("out.exe"));
  EXPECT_EQ(archive.Module().Find(ItemPathsResourceName), nullptr);
}

// Readers that know only FileName get a name each can write: the item's own when the code
// page spells it in 32 bytes and no earlier item has it, else a stand-in. The full paths
// and the empty folders go to ITEMPATHS; excluded names are left out, folders whole.
TEST_F(PackTest, ATreeKeepsItsPathsBesideFileNamesEveryReaderCanWrite) {
  Put("app/bin/Microsoft.Extensions.DependencyInjection.dll", Text("a"));
  Put("app/bin/readme.txt", Text("b"));
  Put("app/bin/setup.exe", Text("MZ"));
  Put("app/bin/setup.pdb", Text("-"));
  Put("app/readme.txt", Text("c"));
  Put("app/~1.dll", Text("d"));
  Put("app/данные/한글.txt", Text("e"));
  Put("app/obj/Debug/x.o", Text("-"));
  Put("app/data/cache/x.bin", Text("-"));
  fs::create_directories(Dir / "app/logs/empty");
  Put("app/ソ.txt", Text("f"));
  PackOptions o = Options({Dir / "app"});
  o.Excludes = {"*.pdb", "obj", "data/cache"};
  o.Run = "bin/setup.exe";
  o.ProgramInDestination = true;
  o.Texts.CodePage = 932;
  RunPackCommand(o);

  const TVexaHeader header = Header();
  std::vector<std::string> names;
  for (const auto& item : header.Items)
    names.push_back(FileName(*item));
  // ソ is 0x83 0x5C in code page 932: its second byte is a backslash.
  EXPECT_EQ(names, (std::vector<std::string>{"~1-1.dll", "readme.txt", "setup.exe", "~4.txt",
                                             "~1.dll", "~6.txt", "~7.txt"}));
  EXPECT_EQ(header.ProgramPath(), "bin\\setup.exe");
  const Bytes paths = ResourceBytes(Path("out.exe"), "ITEMPATHS");
  const std::optional<TItemPathTable> decoded =
      TItemPathTable::Decode(paths.data(), paths.size(), 7);
  ASSERT_TRUE(decoded);
  const std::vector<std::u16string> items{u"bin\\Microsoft.Extensions.DependencyInjection.dll",
                                          u"bin\\readme.txt",
                                          u"bin\\setup.exe",
                                          u"readme.txt",
                                          u"~1.dll",
                                          u"данные\\한글.txt",
                                          u"ソ.txt"};
  for (std::size_t i = 0; i < items.size(); ++i)
    EXPECT_EQ(decoded->Item(i), items[i]);
  // data is not empty: the packer saw something in it, which it left out.
  ASSERT_EQ(decoded->EmptyFolderCount(), 2u);
  EXPECT_EQ(decoded->EmptyFolder(0), u"data");
  EXPECT_EQ(decoded->EmptyFolder(1), u"logs\\empty");
}

// --exclude without '/' judges every name; with '/', the path below the input.
TEST_F(PackTest, ExcludePatternsMatchNamesOrPaths) {
  struct Case {
    const char* Pattern;
    const char* Path;
    bool Matches;
  };
  const Case cases[] = {
      {"*.pdb", "bin/setup.pdb", true},
      {"*.pdb", "bin/setup.pdb.txt", false},
      {"obj", "src/obj", true},
      {"obj", "src/object", false},
      {"bin/*.tmp", "bin/a.tmp", true},
      {"bin/*.tmp", "x/bin/a.tmp", false},
      {"*/a.tmp", "bin/sub/a.tmp", false},
      {"*/*/a.tmp", "bin/sub/a.tmp", true},
      {"?.txt", "я.txt", true},
      {"?.txt", "ab.txt", false},
      {"*.TXT", "a.txt", false},
      {"*", "anything", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExcludeMatches(c.Pattern, c.Path), c.Matches) << c.Pattern << " " << c.Path;
}

TEST_F(PackTest, TheSameInputsAndEpochGiveTheSameBytes) {
  const fs::path data = Put("in/data.bin", RandomBytes(100000, 1));
  const fs::path text = Put("in/readme.txt", CompressibleBytes(70000));
  const ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
  PackOptions first = Options({data, text}, "first.exe");
  first.Welcome = "Install?";
  first.Icon = VEXA_SOURCE_DIR "/tests/unit/pe/fixture/fixture.ico";
  RunPackCommand(first);
  // Touched later, named otherwise: the dates are capped by the epoch, the names are the
  // same.
  fs::last_write_time(data, fs::file_time_type::clock::now());
  PackOptions second = first;
  second.Output = Path("second.exe");
  second.Inputs = {Path("in")};
  RunPackCommand(second);
  EXPECT_EQ(ReadBytes(Dir / "first.exe"), ReadBytes(Dir / "second.exe"));
  EXPECT_NEAR(FileTime(*Header("first.exe").Items[0]), 25569 + 1700000000 / 86400.0, 1e-9);
}

// The items' data lies in the file in item order, ITEM2 before ITEM10 although the directory
// sorts it after: extracting the items one after the other then reads the file front to
// back.
void ExpectItemDataInItemOrder(const std::string& Archive, std::size_t Items) {
  platform::MappedFile file;
  ASSERT_EQ(file.Open(Archive), "");
  const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
  const std::uint8_t* previousEnd = file.Bytes().data();
  for (std::size_t i = 1; i <= Items; ++i) {
    const pe::ResourceKey name = pe::ResourceKey::FromName("ITEM" + std::to_string(i));
    const auto entry = std::find_if(image.Entries().begin(), image.Entries().end(),
                                    [&](const pe::ResourceEntry& e) { return e.Name == name; });
    ASSERT_NE(entry, image.Entries().end()) << name.ToString();
    EXPECT_GE(entry->Data.data(), previousEnd) << name.ToString() << " lies before the item "
                                               << "numbered before it";
    previousEnd = entry->Data.data() + entry->Data.size();
  }
}

// Items of every kind, in an order where large and small ones alternate, so that threads
// finish them out of order; packed on one thread and on four. Either way each item's data
// follows the one before it.
TEST_F(PackTest, TheArchiveIsTheSameWhateverTheNumberOfThreads) {
  for (int i = 0; i < 24; ++i) {
    // Some items larger than the 1 MiB blocks below, most far smaller, a few empty.
    const std::size_t size = i % 6 == 0 ? 0 : (i % 5 == 1 ? 100000 : 1000) * i + 7;
    Put("in/" + std::to_string(100 + i) + ".dat",
        i % 3 == 0 ? RandomBytes(size, static_cast<unsigned>(i)) : CompressibleBytes(size));
  }
  Put("in/large.bin", CompressibleBytes(3 << 20));
  Put("in/tree/глубже/長い名前のファイル.dat", CompressibleBytes(300000));
  const ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
  // The check block's padding is random: its bytes in the file are set aside, and so is
  // the image's checksum, which covers them.
  const auto withoutCheckBlock = [&](const std::string& Archive) {
    Bytes bytes = ReadBytes(Archive);
    const Bytes header = ResourceBytes(Archive, "HEADER");
    const auto at = std::search(bytes.begin(), bytes.end(), header.begin(), header.end());
    EXPECT_NE(at, bytes.end());
    std::fill_n(at + ArchiveLayout::PasswordCheckOffset, ArchiveLayout::PasswordCheckSize, 0);
    constexpr std::size_t PeOffsetField = 0x3C, ChecksumInPeHeader = 88;
    std::uint32_t pe = 0;
    std::memcpy(&pe, bytes.data() + PeOffsetField, 4);
    std::fill_n(bytes.begin() + pe + ChecksumInPeHeader, 4, 0);
    return bytes;
  };
  struct Case {
    const char* Name;
    std::function<void(PackOptions&)> Set;
  };
  const Case cases[] = {
      {"compressed", [](PackOptions&) {}},
      {"compressed at level 1", [](PackOptions& o) { o.Level = 1; }},
      {"encrypted", [](PackOptions& o) { o.Password.Text = "secret"; }},
      {"stored and encrypted", [](PackOptions& o) { o.Store = true, o.Password.Text = "x"; }},
      {"solid blocks of 1 MiB", [](PackOptions& o) { o.BlockSize = 1 << 20; }},
      {"solid blocks of 1 MiB, encrypted",
       [](PackOptions& o) { o.BlockSize = 1 << 20, o.Password.Text = "secret"; }},
      {"every item alone", [](PackOptions& o) { o.Solid = false; }},
      {"deflate", [](PackOptions& o) { o.Method = CompressionMethod::Deflate; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    PackOptions o = Options({Dir / "in"});
    c.Set(o);
    const TPackCommand command(o);
    std::vector<Bytes> archives;
    for (const std::size_t jobs : {1, 4}) {
      PackPlan plan = command.Plan();
      plan.Jobs = jobs;
      plan.Output = Dir / ("jobs" + std::to_string(jobs) + ".exe");
      PackArchive(plan);
      ExpectItemDataInItemOrder(plan.Output.string(), 26);
      archives.push_back(withoutCheckBlock(plan.Output.string()));
    }
    EXPECT_TRUE(archives[0] == archives[1]);
  }
}

// Items join a block while their sizes add up to the limit, a larger one is a block alone;
// a block that compressing does not make smaller has its items stored, each on its own.
// Deflate and --no-solid compress every item alone. Every item reads back as it was.
TEST_F(PackTest, SolidBlocksFollowTheLimitAndStoreWhatDoesNotShrink) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"1.txt", CompressibleBytes(50000)},
      {"2.txt", CompressibleBytes(40000)},
      {"3.txt", CompressibleBytes(1000)},
      {"4.txt", CompressibleBytes(200000)},
      {"5.bin", RandomBytes(30000, 5)},
      {"6.bin", RandomBytes(30000, 6)},
      {"7.txt", {}},
      {"8.txt", CompressibleBytes(5)},
  };
  std::vector<fs::path> inputs;
  for (const auto& [name, data] : files)
    inputs.push_back(Put("in/" + name, data));
  const struct {
    const char* Name;
    std::function<void(PackOptions&)> Set;
    std::vector<std::uint8_t> Methods;
  } cases[] = {
      {"blocks of 100000 bytes",
       [](PackOptions& o) { o.BlockSize = 100000; },
       {imLzma2, imLzma2Continued, imLzma2Continued, imLzma2, imStored, imStored, imStored,
        imStored}},
      {"encrypted",
       [](PackOptions& o) { o.BlockSize = 100000, o.Password.Text = "pw"; },
       {imLzma2, imLzma2Continued, imLzma2Continued, imLzma2, imStored, imStored, imStored,
        imStored}},
      {"the default limit",
       [](PackOptions&) {},
       {imLzma2, imLzma2Continued, imLzma2Continued, imLzma2Continued, imLzma2Continued,
        imLzma2Continued, imLzma2Continued, imLzma2Continued}},
      {"every item alone",
       [](PackOptions& o) { o.Solid = false; },
       {imLzma2, imLzma2, imLzma2, imLzma2, imStored, imStored, imStored, imStored}},
      {"deflate",
       [](PackOptions& o) { o.Method = CompressionMethod::Deflate; },
       {imZlib, imZlib, imZlib, imZlib, imStored, imStored, imStored, imStored}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    PackOptions o = Options(inputs);
    c.Set(o);
    RunPackCommand(o);
    const TVexaHeader header = Header();
    std::vector<std::uint8_t> methods;
    for (const auto& item : header.Items) {
      methods.push_back(Compressed(*item));
      if (Compressed(*item) == imLzma2Continued) {
        EXPECT_EQ(StoredSize(*item), 0u);
      }
    }
    EXPECT_EQ(methods, c.Methods);
    for (std::size_t i = 0; i < header.Items.size(); ++i)
      if (Compressed(*header.Items[i]) == imLzma2Continued) {
        EXPECT_TRUE(ResourceBytes(Path("out.exe"), "ITEM" + std::to_string(i + 1)).empty()) << i;
      }
    ExtractOptions extract;
    extract.Directory = Path("unpacked");
    extract.Password = GivenPassword("pw");
    std::ostringstream out, err;
    ExtractArchiveTo(Path("out.exe"), extract, out, err);
    for (const auto& [name, data] : files)
      EXPECT_EQ(ReadBytes(Dir / "unpacked" / name), data) << name;
    fs::remove_all(Dir / "unpacked");
  }
}

// The partition alone, on sizes: a limit the author gives is filled item by item; the
// default makes as few blocks as its limit allows, in pairs from 8 MiB on, cut where the
// bytes divide most evenly, and never over its limit.
TEST(SolidBlockStartsTest, FillsAGivenLimitAndBalancesTheDefault) {
  constexpr std::uint64_t MiB = 1 << 20;
  const SolidBlocks given{100, false};
  const SolidBlocks byDefault{};
  const SolidBlocks smallDefault{100 * MiB, true};
  const struct {
    const char* Name;
    std::vector<std::uint64_t> Sizes;
    SolidBlocks Rule;
    std::vector<std::size_t> Starts;
  } cases[] = {
      {"no items", {}, given, {}},
      {"a given limit, filled", {50, 40, 10, 1, 60, 60}, given, {0, 3, 5}},
      {"a given limit: a larger item alone", {10, 200, 10, 0, 0}, given, {0, 1, 2}},
      {"the default under 8 MiB: one block", {4 * MiB, 4 * MiB - 1}, byDefault, {0}},
      {"the default from 8 MiB: two near-equal blocks",
       {3 * MiB, 1 * MiB, 2 * MiB, 1 * MiB, 1 * MiB},
       byDefault,
       {0, 2}},
      {"the default: an item of most of the bytes makes no more blocks",
       {1 * MiB, 20 * MiB, 1 * MiB, 1 * MiB},
       byDefault,
       {0, 2}},
      {"an odd count made even: each block near a quarter",
       {30 * MiB, 30 * MiB, 30 * MiB, 30 * MiB, 30 * MiB, 30 * MiB, 30 * MiB, 30 * MiB},
       smallDefault,
       {0, 2, 4, 6}},
      {"the limit holds where the cuts would not",
       {10 * MiB, 95 * MiB, 95 * MiB},
       smallDefault,
       {0, 1, 2}},
      {"empty items stay with the item before them", {5 * MiB, 0, 5 * MiB, 0}, byDefault, {0, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(SolidBlockStarts(c.Sizes, c.Rule), c.Starts);
  }
}

TEST_F(PackTest, EncryptedArchivesDifferOnlyInTheCheckBlocksRandomPadding) {
  const fs::path data = Put("data.bin", CompressibleBytes(50000));
  PackOptions o = Options({data}, "first.exe");
  o.Password.Text = "secret";
  RunPackCommand(o);
  o.Output = Path("second.exe");
  RunPackCommand(o);
  EXPECT_EQ(ResourceBytes(Path("first.exe"), "ITEM1"), ResourceBytes(Path("second.exe"), "ITEM1"));
  Bytes first = ResourceBytes(Path("first.exe"), "HEADER");
  Bytes second = ResourceBytes(Path("second.exe"), "HEADER");
  using ArchiveLayout::PasswordCheckOffset;
  EXPECT_NE(first, second);
  std::fill_n(first.begin() + PasswordCheckOffset, PasswordCheckSize, 0);
  std::fill_n(second.begin() + PasswordCheckOffset, PasswordCheckSize, 0);
  EXPECT_EQ(first, second);
}

TEST_F(PackTest, TheProgramIconIsReplacedOrDroppedAndThePadlockStays) {
  const fs::path setup = Put("setup.exe", Text("MZ"));
  const pe::ResourceKey group = pe::ResourceKey::FromId(pe::RtGroupIcon);
  const auto groups = [&](const std::string& Archive) {
    platform::MappedFile file;
    EXPECT_EQ(file.Open(Archive), "");
    const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
    std::map<std::string, std::size_t> images; // group name -> images present for it
    std::vector<std::uint16_t> icons;
    for (const pe::ResourceEntry& e : image.Entries())
      if (e.Type == pe::ResourceKey::FromId(pe::RtIcon))
        icons.push_back(e.Name.Id);
    for (const pe::ResourceEntry& e : image.Entries())
      if (e.Type == group) {
        const std::size_t count = e.Data[4];
        std::size_t present = 0;
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint16_t id =
              static_cast<std::uint16_t>(e.Data[6 + 14 * i + 12] | e.Data[6 + 14 * i + 13] << 8);
          present += std::count(icons.begin(), icons.end(), id);
        }
        EXPECT_EQ(present, count) << e.Name.ToString() << " refers to a missing image";
        images[e.Name.ToString()] = count;
      }
    return images;
  };

  RunPackCommand(Options({setup}, "default.exe"));
  const auto standard = groups(Path("default.exe"));
  ASSERT_TRUE(standard.count("SELFEXICON"));
  ASSERT_TRUE(standard.count("111"));

  PackOptions o = Options({setup}, "none.exe");
  o.NoIcon = true;
  RunPackCommand(o);
  const auto none = groups(Path("none.exe"));
  EXPECT_FALSE(none.count("SELFEXICON"));
  EXPECT_EQ(none.at("111"), standard.at("111"));

  const std::string icon = VEXA_SOURCE_DIR "/tests/unit/pe/fixture/fixture.ico";
  const Bytes ico = ReadBytes(icon);
  o = Options({setup}, "own.exe");
  o.Icon = icon;
  RunPackCommand(o);
  const auto own = groups(Path("own.exe"));
  EXPECT_EQ(own.at("SELFEXICON"), std::size_t{ico[4]});
  EXPECT_EQ(own.at("111"), standard.at("111"));
}

// A text resource in UTF-16LE with its NUL unit.
Bytes Utf16Resource(std::u16string_view Text) {
  Bytes bytes;
  for (const char16_t unit : Text) {
    bytes.push_back(static_cast<std::uint8_t>(unit));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes.insert(bytes.end(), 2, 0);
  return bytes;
}

bool HasRcData(const std::string& Archive, const std::string& Name) {
  platform::MappedFile file;
  EXPECT_EQ(file.Open(Archive), "");
  const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
  return std::any_of(image.Entries().begin(), image.Entries().end(), [&](const auto& Entry) {
    return Entry.Type == pe::ResourceKey::FromId(pe::RtRcData) &&
           Entry.Name == pe::ResourceKey::FromName(Name);
  });
}

// In the code page for the stubs that know only those, and in UTF-16 for the others.
TEST_F(PackTest, TheWelcomeQuestionBecomesTextResourcesInTheCodePageAndInUtf16) {
  PackOptions o = Options({Put("setup.exe", Text("MZ"))});
  RunPackCommand(o);
  for (const char* name : {"WELCOMETEXT", "WELCOMETITLE", "WELCOMETEXTW", "WELCOMETITLEW"})
    EXPECT_FALSE(HasRcData(Path("out.exe"), name)) << name;

  o.Welcome = "Install the Vexa demo?";
  o.Title = "Vexa Demo Setup";
  RunPackCommand(o);
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETEXT"),
            Text(std::string("Install the Vexa demo?") + '\0'));
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETITLE"),
            Text(std::string("Vexa Demo Setup") + '\0'));
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETEXTW"),
            Utf16Resource(u"Install the Vexa demo?"));
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETITLEW"), Utf16Resource(u"Vexa Demo Setup"));

  // Without a title, the caption is empty in both forms.
  o.Welcome = "Zainstalować?";
  o.Title.reset();
  o.Texts.CodePage = 1250;
  RunPackCommand(o);
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETEXT"),
            Text(std::string("Zainstalowa\xE6?") + '\0'));
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETITLE"), Text(std::string(1, '\0')));
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETEXTW"), Utf16Resource(u"Zainstalować?"));
  EXPECT_EQ(ResourceBytes(Path("out.exe"), "WELCOMETITLEW"), Utf16Resource(u""));
}

// The version resource of the stub unless the author gives fields; then exactly those, as
// pefile reads them, and as `vexa list` shows them.
TEST_F(PackTest, TheAuthorsVersionFieldsReplaceTheStubsVersionResource) {
  const fs::path input = Put("a.txt", Text("x"));
  const auto versionBytes = [](const std::string& Image) {
    platform::MappedFile file;
    EXPECT_EQ(file.Open(Image), "");
    const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
    std::vector<Bytes> found;
    for (const pe::ResourceEntry& e : image.Entries())
      if (e.Type == pe::ResourceKey::FromId(pe::RtVersion))
        found.emplace_back(e.Data.begin(), e.Data.end());
    return found;
  };
  RunPackCommand(Options({input}, "stub.exe"));
  ASSERT_EQ(versionBytes(StubPath()).size(), 1u);
  EXPECT_EQ(versionBytes(Path("stub.exe")), versionBytes(StubPath()));

  const struct {
    std::function<void(VersionOptions&)> Set;
    std::vector<std::string> Seen; // pefile's lines
    std::vector<std::string> Listed;
  } cases[] = {
      {[](VersionOptions& v) {
         v.Description = "Démo Setup";
         v.ProductName = "Vexa ☃ Demo";
         v.ProductVersion = "2.1.7";
         v.Company = "Café Ltd";
         v.Copyright = "© 2026 Café Ltd";
       },
       {"fixed 2.1.7.0 2.1.7.0", "version 000004B0 FileDescription Démo Setup",
        "version 000004B0 ProductName Vexa ☃ Demo", "version 000004B0 ProductVersion 2.1.7",
        "version 000004B0 FileVersion 2.1.7", "version 000004B0 CompanyName Café Ltd",
        "version 000004B0 LegalCopyright © 2026 Café Ltd"},
       {"Description: Démo Setup\n", "Product:     Vexa ☃ Demo\n", "Version:     2.1.7\n",
        "Company:     Café Ltd\n", "Copyright:   © 2026 Café Ltd\n"}},
      {[](VersionOptions& v) { v.ProductVersion = "2.1-beta"; },
       {"fixed 0.0.0.0 0.0.0.0", "version 000004B0 ProductVersion 2.1-beta",
        "version 000004B0 FileVersion 2.1-beta"},
       {"Version:     2.1-beta\n"}},
      {[this](VersionOptions& v) {
         v.File = Put("v.txt", Text("\xEF\xBB\xBF# identity\r\ndescription=From the file\r\n"
                                    "\r\ncompany=ACME\r\nproduct-version=1.2.3.4\r\n"))
                      .string();
         v.Description = "From the option";
       },
       {"fixed 1.2.3.4 1.2.3.4", "version 000004B0 FileDescription From the option",
        "version 000004B0 ProductVersion 1.2.3.4", "version 000004B0 FileVersion 1.2.3.4",
        "version 000004B0 CompanyName ACME"},
       {"Description: From the option\n", "Company:     ACME\n"}},
  };
  for (const auto& c : cases) {
    PackOptions o = Options({input});
    c.Set(o.Version);
    RunPackCommand(o);
    EXPECT_EQ(pe::test::IndependentView(Path("out.exe"), "--version"), c.Seen);
    const std::string listing = Listing("out.exe");
    for (const std::string& line : c.Listed)
      EXPECT_NE(listing.find(line), std::string::npos) << line << " in\n" << listing;
    EXPECT_EQ(listing.find("Vexa self-extracting archive"), std::string::npos);
  }
  std::ostringstream json, err;
  ListArchive(Path("out.exe"), true, json, err);
  EXPECT_NE(json.str().find("\"version_info\": {\"file_version\": \"1.2.3.4\", "
                            "\"product_version\": \"1.2.3.4\", \"strings\": "
                            "{\"FileDescription\": \"From the option\", "),
            std::string::npos)
      << json.str();

  const struct {
    const char* Text;
    std::array<std::uint16_t, 4> Numbers;
  } numbers[] = {
      {"2", {2, 0, 0, 0}},
      {"2.1", {2, 1, 0, 0}},
      {"10.0.19041.1", {10, 0, 19041, 1}},
      {"65535.0", {65535, 0}},
      {"65536", {}},
      {"1.2.3.4.5", {}},
      {"1..2", {}},
      {"1.2.", {}},
      {".1", {}},
      {"v1.2", {}},
      {"1.2 beta", {}},
      {"", {}},
  };
  for (const auto& n : numbers)
    EXPECT_EQ(VersionNumbers(n.Text), n.Numbers) << n.Text;
}

// pefile's reading of a string table: the lines of a texts file, with \n as CR LF.
std::vector<std::string> StringLines(std::string_view TextsFile) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(TextsFile)};
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#')
      continue;
    for (std::size_t at = line.find("\\n"); at != std::string::npos; at = line.find("\\n", at + 4))
      line.replace(at, 2, "\\r\\n");
    lines.push_back("string " + line.replace(4, 1, " "));
  }
  return lines;
}

TEST_F(PackTest, WithoutLanguageOptionsAnArchiveShowsTheTextsItAlwaysHas) {
  // The resource compiler and the packer read the English texts from one header, each with
  // its own escapes: pefile finds in the stub what the packer knows.
  std::vector<std::string> english;
  for (const StubText& text : StubTexts()) {
    std::string line = std::string("string ") + std::to_string(text.Id) + " " + text.English;
    for (std::size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", at))
      line.replace(at, 2, "\\r\\n");
    english.push_back(line);
  }
  EXPECT_EQ(pe::test::IndependentView(StubPath(), "--strings"), english);

  RunPackCommand(Options({Put("a.txt", Text("x"))}));
  const auto blocks = [](const std::string& Image) {
    std::vector<Bytes> found;
    platform::MappedFile file;
    EXPECT_EQ(file.Open(Image), "");
    const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
    for (const pe::ResourceEntry& e : image.Entries())
      if (e.Type == pe::ResourceKey::FromId(pe::RtString))
        found.emplace_back(e.Data.begin(), e.Data.end());
    return found;
  };
  EXPECT_EQ(blocks(Path("out.exe")), blocks(StubPath()));
  EXPECT_EQ(HeaderLines(),
            std::string("Extracting Files\r\nPlease Wait ...\r\nBrowse for Folder\r\n"
                        "Select the folder where do you want to extract files to\r\n"
                        "Confirmation\r\nDo you want to delete extracted temporary files?\r\n"
                        "Do you want to exit now?\r\nDecrypting Files\r\nPlease Enter Password:\r\n"
                        "Password Invalid. Try one more time...\r\n&Yes\r\n&No\r\nCancel\r\nOK\r\n"
                        "Error\r\nThere is not enough free space on drive %s: to extract files.\r\n"
                        "Cannot extract files. Arhive corrupted.\r\nI/O error occurrs. Check the "
                        "destination disk is not write protected.\r\n") +
                '\0');
  EXPECT_NE(Listing("out.exe").find("Language:    English\n"), std::string::npos);
}

TEST_F(PackTest, ALanguageWritesItsStringTableAndItsCodePageAndATextsFileGoesOverIt) {
  const fs::path input = Put("a.txt", Text("x"));
  PackOptions o = Options({input}, "ru.exe");
  o.Texts.Language = "ru";
  o.Welcome = "Установить?";
  RunPackCommand(o);
  EXPECT_EQ(pe::test::IndependentView(Path("ru.exe"), "--strings"),
            StringLines(FindLanguage("ru")->Texts));
  // Извлечение файлов, and the exit question Завершить работу сейчас?
  EXPECT_TRUE(HeaderLines("ru.exe").starts_with(
      "\xC8\xE7\xE2\xEB\xE5\xF7\xE5\xED\xE8\xE5 \xF4\xE0\xE9\xEB\xEE\xE2\r\n"));
  EXPECT_NE(HeaderLines("ru.exe").find("\r\n\xC7\xE0\xE2\xE5\xF0\xF8\xE8\xF2\xFC "
                                       "\xF0\xE0\xE1\xEE\xF2\xF3 \xF1\xE5\xE9\xF7\xE0\xF1?\r\n"),
            std::string::npos);
  EXPECT_EQ(ResourceBytes(Path("ru.exe"), "WELCOMETEXT"),
            Text(std::string("\xD3\xF1\xF2\xE0\xED\xEE\xE2\xE8\xF2\xFC?") + '\0'));
  EXPECT_EQ(ResourceBytes(Path("ru.exe"), "WELCOMETEXTW"), Utf16Resource(u"Установить?"));
  EXPECT_NE(Listing("ru.exe").find("Language:    ru (Russian (Русский))\n"), std::string::npos);
  // A double-byte code page: the header lines in Shift JIS.
  o = Options({input}, "ja.exe");
  o.Texts.Language = "ja";
  RunPackCommand(o);
  EXPECT_EQ(pe::test::IndependentView(Path("ja.exe"), "--strings"),
            StringLines(FindLanguage("ja")->Texts));
  EXPECT_TRUE(HeaderLines("ja.exe").starts_with("\x83\x74\x83\x40\x83\x43\x83\x8B")); // ファイル

  o = Options({input}, "own.exe");
  o.Texts.Language = "de";
  o.Texts.TextsFile = Put("texts.txt", Text("2005=Alles wieder löschen?\n")).string();
  RunPackCommand(o);
  const std::vector<std::string> strings = pe::test::IndependentView(Path("own.exe"), "--strings");
  EXPECT_EQ(strings[5], "string 2005 Alles wieder löschen?");
  EXPECT_EQ(strings[9], "string 2009 &Ja");
  EXPECT_NE(Listing("own.exe").find("Language:    custom texts\n"), std::string::npos);
}

// Names and the password are typed and written on the users' systems, in the code page of
// the archive's language; `vexa list` says which one that is.
TEST_F(PackTest, ARussianArchiveTakesRussianNamesAndPasswordInItsCodePage) {
  PackOptions o = Options({Put("in/файл.txt", Text("x")), Put("in/Ёлка.exe", Text("MZ"))});
  o.Texts.Language = "ru";
  o.Password.Text = "пароль";
  o.Run = "ёлка.EXE";
  o.ProgramInDestination = true;
  RunPackCommand(o);
  const TVexaHeader header = Header();
  EXPECT_EQ(FileName(*header.Items[0]), "\xF4\xE0\xE9\xEB.txt");
  EXPECT_EQ(FileName(*header.Items[1]), "\xA8\xEB\xEA\xE0.exe");
  EXPECT_EQ(header.ProgramPath(), "\xB8\xEB\xEA\xE0.EXE");
  char typed[PasswordCheckSize] = "\xEF\xE0\xF0\xEE\xEB\xFC";
  EXPECT_TRUE(CheckPassword(header.PasswordCheck(), typed));
  const std::string listing = Listing("out.exe");
  EXPECT_NE(listing.find("Code page:   Windows-1251\n"), std::string::npos) << listing;
  // The table's columns line up under the 32 characters of the name column.
  EXPECT_NE(listing.find("\nфайл.txt" + std::string(32 - 8 + 12, ' ') + "1 "), std::string::npos)
      << listing;
  EXPECT_NE(listing.find("Program:     ёлка.EXE (in the destination)"), std::string::npos)
      << listing;
}

TEST_F(PackTest, RefusesLanguagesCodePagesAndTextsTheStubCannotShow) {
  const fs::path input = Put("a.txt", Text("x"));
  PackOptions o = Options({input});
  o.Texts.Language = "xx";
  ExpectRefused(o, "--language xx: no such language; vexa has:\n  cs ", ExitUsage);
  o.Texts.Language = "de";
  o.Texts.CodePage = 65001;
  ExpectRefused(o, "--codepage 65001: not a Windows ANSI code page", ExitUsage);
  o.Texts.CodePage.reset();
  o.Welcome = "Установить?";
  ExpectRefused(o, "--welcome: the text has a character outside the Windows-1252 code page",
                ExitUsage);
  o.Welcome.reset();

  o.Texts.TextsFile = Put("texts.txt", Text("# Japanese\n2013=エラー\n")).string();
  ExpectRefused(o, "texts.txt:2: code page 1252 has no place for the character U+30A8");
  o.Texts.Language.reset();
  o.Texts.CodePage = 932;
  EXPECT_NO_THROW(RunPackCommand(o));
  fs::remove(Dir / "out.exe");
  o.Texts.TextsFile = (Dir / "missing.txt").string();
  ExpectRefused(o, "--texts " + (Dir / "missing.txt").string() + ": cannot be read");
}

// Each refusal names the code page that lacks the character: the language's, --codepage's,
// or Windows-1252 without either.
TEST_F(PackTest, RefusesNamesAndPasswordsTheArchivesCodePageCannotHold) {
  struct Case {
    const char* Language; // none when empty
    unsigned CodePage;    // the language's when 0
    std::vector<std::string> Files;
    const char* Password; // none when empty
    const char* Expected;
  };
  // An item's name outside the code page takes a stand-in FileName, but the program the
  // stub starts is named in the code page.
  const Case cases[] = {
      {"", 0, {"файл.exe"}, "", "--run: the text has a character outside the Windows-1252"},
      {"", 0, {"a.txt"}, "пароль", "the password holds a character outside the Windows-1252"},
      {"pl", 0, {"a.txt"}, "пароль", "outside the Windows-1250 code page"},
      {"de", 1250, {"bin/файл.exe"}, "", "outside the Windows-1250 code page"},
      {"ru", 0, {"café.exe"}, "", "--run: the text has a character outside the Windows-1251"},
      {"ru", 0, {"a.txt"}, "Passwört", "the password holds a character outside the Windows-1251"},
      {"ru", 0, {"ЧАЙ.TXT", "чай.txt"}, "", "differ only in case"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Expected);
    fs::remove_all(Dir / "in");
    for (const std::string& file : c.Files)
      Put("in/" + file, Text(file));
    PackOptions o = Options({Dir / "in"});
    if (*c.Language)
      o.Texts.Language = c.Language;
    if (c.CodePage)
      o.Texts.CodePage = c.CodePage;
    if (*c.Password)
      o.Password.Text = c.Password;
    o.Run = c.Files.back();
    o.ProgramInDestination = true;
    ExpectRefused(o, c.Expected, c.Password[0] || c.Files.size() > 1 ? ExitFailure : ExitUsage);
  }
}

} // namespace
} // namespace vexa::tool::test
