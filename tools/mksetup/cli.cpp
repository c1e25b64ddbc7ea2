#include "cli.h"

#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>

#include "branding_options.h"
#include "exclude_patterns.h"
#include "extract_files.h"
#include "folder_scan.h"
#include "host_files.h"
#include "listing.h"
#include "merge_assembly.h"
#include "pack_problems.h"
#include "parallel_deflate.h"
#include "payload_check.h"
#include "payload_source.h"
#include "pe_resources.h"
#include "progress_bar.h"
#include "tool_error.h"

namespace {

// An installed mksetup finds its stubs in PREFIX/share/mksetup beside PREFIX/bin; the Windows
// build trees place their stub beside the packer instead.
const char kSharedFolderName[] = "share";
const char kPackageFolderName[] = "mksetup";
const char kInstalledStubName[] = "setup.exe";
const char kBesideStubName[] = "setup-stub.exe";

const char kGeneralHelp[] =
    "usage: mksetup COMMAND [OPTIONS]\n"
    "\n"
    "Turns a folder into a setup program, and lists, verifies and extracts existing ones.\n"
    "\n"
    "commands:\n"
    "  pack DIR -o OUT.exe [--launch RELPATH] [--stub STUB.exe]   make a setup program from DIR\n"
    "  payload DIR -o FILE [--launch RELPATH]                     write only the compressed payload\n"
    "      both also take --dereference, --skip-empty, --exclude PATTERN, --level N, --threads N\n"
    "      pack also takes --icon FILE.ico and --version KEY=VALUE for the program's own icon and version\n"
    "  list FILE [--json]                                         show the files a payload carries\n"
    "  verify FILE                                                check a payload completely\n"
    "  extract FILE -C DIR                                        unpack a payload into DIR\n"
    "\n"
    "Each takes --codepage CP for names beyond plain ASCII, written in a Windows ANSI code page.\n"
    "\n"
    "FILE is a setup program or a bare payload stream. 'mksetup COMMAND --help' tells more.\n";

const char kPackHelp[] =
    "usage: mksetup pack DIR -o OUT.exe [--launch RELPATH] [--stub STUB.exe] [--threads N]\n"
    "                    [--level N] [--codepage CP] [--dereference] [--skip-empty]\n"
    "                    [--exclude PATTERN]... [--icon FILE.ico] [--version KEY=VALUE]...\n"
    "\n"
    "Packs every file below DIR, with its times, into a copy of the setup stub. When the setup\n"
    "program runs, it unpacks them below %TEMP%\\{93BE7657-D655-425A-8E7A-F7D9392A5939}\\ and\n"
    "opens RELPATH, a path relative to DIR ('/' or '\\' between folders). Without --launch it\n"
    "opens nothing.\n"
    "\n"
    "  -o, --output OUT.exe   the setup program to write; it is replaced only when all went well\n"
    "  --launch RELPATH       the file to open after unpacking; it must be one of the files\n"
    "  --stub STUB.exe        the setup program without payload to start from; by default the\n"
    "                         32-bit one installed with mksetup, ../share/mksetup/setup.exe\n"
    "                         from its folder (setup64.exe there is its 64-bit twin), else the\n"
    "                         one of its build tree\n"
    "  --threads N            compress on N threads (default: one per processor); the output\n"
    "                         is the same for any N\n"
    "  --level N              compress at zlib level N, 1 (fastest) to 9 (smallest, the\n"
    "                         default); any level makes the same kind of stream\n"
    "  --codepage CP          write the names in the Windows ANSI code page CP (874, 932, 936,\n"
    "                         949, 950, 1250-1258), so that names beyond plain ASCII can be\n"
    "                         carried; each must convert exactly. The program then unpacks them\n"
    "                         right on machines whose ANSI code page is CP, and only there\n"
    "  --dereference          pack what symbolic links point to: a link to a file as that file,\n"
    "                         a link to a folder as that folder; without it links are refused\n"
    "  --skip-empty           leave empty files out (and list them) instead of refusing them\n"
    "  --exclude PATTERN      leave out what PATTERN matches, never looking at it; repeatable.\n"
    "                         '*' and '?' match within one name, '**' across folders, [a-z] a\n"
    "                         set. A PATTERN without '/' matches a name at any depth ('*.o');\n"
    "                         one with '/' the path from the top of DIR ('docs/old'); one\n"
    "                         ending in '/' folders only, with all they hold ('.git/')\n"
    "  --icon FILE.ico        the program's icon, in its dialog and for its file: every image of\n"
    "                         FILE.ico (bitmaps or PNG) replaces the stub's own icon\n"
    "  --version KEY=VALUE    a text of the program's version information; repeatable. KEY is\n"
    "                         ProductName, CompanyName, FileDescription, FileVersion,\n"
    "                         ProductVersion or LegalCopyright. A FileVersion or ProductVersion\n"
    "                         of four numbers a.b.c.d also sets the numbers Windows compares\n"
    "\n"
    "DIR is examined whole before anything is written. What a setup program cannot carry is\n"
    "listed, every problem at once, grouped by kind, each kind with what to do about it: empty\n"
    "files (--skip-empty), symbolic links (--dereference), links that point nowhere or loop,\n"
    "FIFOs, sockets and devices, files that cannot be read, names that are not plain printable\n"
    "ASCII (without --codepage) or that the code page cannot hold, names that Windows would\n"
    "refuse or alter, names that differ only in case, paths too long for a typical temporary\n"
    "folder, files or totals of 4 GiB or more, and with a 32-bit stub a data file above 448 MiB,\n"
    "which the program holds in memory whole. Leave out what you do not mean to ship with\n"
    "--exclude, rename the rest, and run the command again. Empty folders are left out with a\n"
    "warning. Exit codes: 0 packed, 1 refused or failed (OUT.exe untouched), 2 the command line\n"
    "is wrong.\n"
    "\n"
    "Then: 'mksetup verify OUT.exe' checks it, 'mksetup list OUT.exe' shows what it carries.\n";

const char kPayloadHelp[] =
    "usage: mksetup payload DIR -o FILE [--launch RELPATH] [--threads N]\n"
    "                       [--level N] [--codepage CP] [--dereference] [--skip-empty]\n"
    "                       [--exclude PATTERN]...\n"
    "\n"
    "Writes only the payload of 'mksetup pack': the zlib stream that a setup program carries as\n"
    "its resource \"SETUP\" 2000. Options and refusals are those of 'mksetup pack' (see\n"
    "'mksetup pack --help'); no stub, so no stub's limit applies.\n";

const char kListHelp[] =
    "usage: mksetup list FILE [--json] [--codepage CP]\n"
    "\n"
    "Shows the launch name and every file of the payload with its size and its creation,\n"
    "last-access and last-write times (UTC, to 100 ns). --json prints the same as JSON, with the\n"
    "raw FILETIME numbers beside the times. Names are read in code page 1252 unless --codepage\n"
    "names the one they were packed with.\n";

const char kVerifyHelp[] =
    "usage: mksetup verify FILE [--codepage CP]\n"
    "\n"
    "Checks the payload stream (zlib header, deflate data, Adler-32) and every rule of the data\n"
    "file it expands to, and says precisely what is wrong. Path lengths are judged below a\n"
    "typical temporary folder, C:\\Users\\<20 characters>\\AppData\\Local\\Temp\\. Exits with 0 only\n"
    "when everything is right. Names packed with --codepage CP are checked with the same option.\n";

const char kExtractHelp[] =
    "usage: mksetup extract FILE -C DIR [--codepage CP]\n"
    "\n"
    "Unpacks the payload below DIR (created if missing) with the setup program's safety rules:\n"
    "if any entry could land outside DIR, nothing is written; nothing is written through a link\n"
    "already in DIR. Files get their last-write and last-access times, and their creation time\n"
    "where the system can set it. Names packed with --codepage CP are read with the same option.\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::vector<std::string> operands;
  std::string output;
  std::string launch;
  std::string stub;
  std::string folder;
  ScanOptions scan;
  BrandingRequest branding;
  unsigned threads = 0;
  int level = kDefaultDeflateLevel;
  std::optional<CodePage> codePage;
  bool json = false;
  bool help = false;
};

// The options each command takes; anything else is a usage error.
struct Accepted {
  bool output, launch, stub, threads, json, folder, codePage, scan;
};

unsigned ParseThreads(const std::string& text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value == 0 || value > 1024) {
    throw UsageError("--threads needs a number from 1 to 1024, not '" + text + "'");
  }
  return static_cast<unsigned>(value);
}

int ParseLevel(const std::string& text) {
  if (text.size() != 1 || text[0] < '1' || text[0] > '9') {
    throw UsageError("--level needs a number from 1 (fastest) to 9 (smallest), not '" + text + "'");
  }
  return text[0] - '0';
}

CodePage ParseCodePage(const std::string& text) {
  try {
    return CodePage::Named(text);
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
}

void AddVersion(BrandingRequest& branding, const std::string& keyValue) {
  try {
    AddVersionOption(branding, keyValue);
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
}

const CodePage* CodePageOf(const Options& options) { return options.codePage ? &*options.codePage : nullptr; }

Options ParseOptions(const std::vector<std::string>& arguments, const Accepted& accepted) {
  Options options;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&](const std::string& name) -> std::string {
      if (i + 1 >= arguments.size()) throw UsageError(name + " needs a value");
      return arguments[++i];
    };
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (accepted.output && (argument == "-o" || argument == "--output")) {
      options.output = value(argument);
    } else if (accepted.launch && argument == "--launch") {
      options.launch = value(argument);
    } else if (accepted.stub && argument == "--stub") {
      options.stub = value(argument);
    } else if (accepted.stub && argument == "--icon") {
      options.branding.iconPath = value(argument);
      if (options.branding.iconPath.empty()) throw UsageError("--icon needs the path of an .ico file");
    } else if (accepted.stub && argument == "--version") {
      AddVersion(options.branding, value(argument));
    } else if (accepted.threads && argument == "--threads") {
      options.threads = ParseThreads(value(argument));
    } else if (accepted.json && argument == "--json") {
      options.json = true;
    } else if (accepted.folder && (argument == "-C" || argument == "--directory")) {
      options.folder = value(argument);
    } else if (accepted.codePage && argument == "--codepage") {
      options.codePage = ParseCodePage(value(argument));
    } else if (accepted.scan && argument == "--dereference") {
      options.scan.dereference = true;
    } else if (accepted.scan && argument == "--skip-empty") {
      options.scan.skipEmpty = true;
    } else if (accepted.scan && argument == "--exclude") {
      options.scan.excludes.push_back(value(argument));
    } else if (accepted.scan && argument == "--level") {
      options.level = ParseLevel(value(argument));
    } else if (argument.size() > 1 && argument[0] == '-') {
      throw UsageError("unknown option '" + argument + "'");
    } else {
      options.operands.push_back(argument);
    }
  }
  try {
    ExcludePatterns{options.scan.excludes};
  } catch (const PatternError& error) {
    throw UsageError(error.what());
  }
  return options;
}

const std::string& OneOperand(const Options& options, const char* what) {
  if (options.operands.empty()) throw UsageError(std::string("missing ") + what);
  if (options.operands.size() > 1) throw UsageError("unexpected argument '" + options.operands[1] + "'");
  return options.operands[0];
}

// PREFIX/share/mksetup/setup.exe for a program in PREFIX/bin/, written with the folder's own
// separator; empty when the folder has no parent.
std::string InstalledStubPath(const std::string& programFolder) {
  if (programFolder.size() < 2) return std::string();
  const char separator = programFolder.back();
  const size_t parentEnd = programFolder.find_last_of("/\\", programFolder.size() - 2);
  if (parentEnd == std::string::npos) return std::string();
  return programFolder.substr(0, parentEnd + 1) + kSharedFolderName + separator + kPackageFolderName + separator +
         kInstalledStubName;
}

std::vector<std::string> DefaultStubCandidates() {
  const std::string folder = ExecutableFolder();
  std::vector<std::string> candidates;
  const std::string installed = InstalledStubPath(folder);
  if (!installed.empty()) candidates.push_back(installed);
  if (!folder.empty()) candidates.push_back(folder + kBesideStubName);
#ifdef MKSETUP_BUILD_TREE_STUB
  candidates.push_back(MKSETUP_BUILD_TREE_STUB);
#endif
  return candidates;
}

std::string FindDefaultStub() {
  const std::vector<std::string> candidates = DefaultStubCandidates();
  for (const std::string& candidate : candidates) {
    if (IsRegularFile(candidate)) return candidate;
  }
  if (candidates.empty()) {
    throw ToolError("mksetup", "cannot tell its own folder, so it has no setup stub; name one with --stub STUB.exe");
  }
  std::string elsewhere;
  for (size_t i = 1; i < candidates.size(); ++i) elsewhere += ", nor at " + candidates[i];
  throw ToolError(candidates[0], "no setup stub here" + elsewhere + "; name one with --stub STUB.exe");
}

// An earlier output inside the folder would be packed into the new one, which grows each time.
void CheckOutputOutsideFolder(const std::string& output, const std::string& folder, FolderScan& scan) {
  std::error_code error;
  if (!std::filesystem::exists(output, error)) return;
  for (const SourceFile& file : scan.files) {
    if (std::filesystem::equivalent(output, file.hostPath, error)) {
      scan.problems.Add(kOutputInside, output, "an earlier output, found in " + folder);
    }
  }
}

// The 32-bit setup program holds the whole merge data file in one block beside the payload mapped
// with it, so its address space runs out long before Windows' memory does. Under 32-bit Wine it
// unpacked 536 MiB of zeros behind a tiny stream and 512 MiB behind a stream as large as the data,
// and failed 8 MiB above each (scripts/wine32-memory-ceiling.sh). Windows lays a process out
// differently, so the bound keeps an eighth below the lower figure.
constexpr uint64_t kPe32MergeFileLimit = uint64_t{448} << 20;

// With a 32-bit stub, a data file the program could not hold is refused before anything is read.
void CheckFitsTheStub(const std::string& folder, FolderScan& scan, PeFormat stubFormat) {
  if (stubFormat != PeFormat::kPe32) return;
  uint64_t contents = 0;
  for (const SourceFile& file : scan.files) contents += file.size;
  const uint64_t length = MergeFileLength(scan.files.size(), contents);
  if (length <= kPe32MergeFileLimit) return;
  scan.problems.Add(kTooMuchData, folder,
                    "the data file would be " + std::to_string(length) + " bytes, above the " +
                        std::to_string(kPe32MergeFileLimit) + " bytes (448 MiB) that a 32-bit setup program " +
                        "can hold in memory; or pass a 64-bit stub with --stub");
}

// Says what the packer leaves out without being asked to refuse it: empty folders, which the
// format cannot carry, and the empty files that --skip-empty leaves out.
void ReportLeftOut(const FolderScan& scan, std::ostream& err) {
  for (const std::string& empty : scan.emptyFolders) {
    err << "mksetup: warning: " << empty << ": empty folder left out; a setup program carries files only\n";
  }
  if (scan.skippedEmpty.empty()) return;
  const size_t count = scan.skippedEmpty.size();
  err << "mksetup: left out " << count << (count == 1 ? " empty file" : " empty files") << " (--skip-empty):\n";
  for (const std::string& empty : scan.skippedEmpty) err << "  " << empty << "\n";
}

// The folder examined whole, with every refusal, before anything is written; the names then as the
// payload stores them. Without a stub (`payload`) no stub's limit applies.
struct ScannedFolder {
  FolderScan scan;
  std::string launch;
};

ScannedFolder ScanForPacking(const Options& options, const std::string& folder, std::ostream& err,
                             const std::optional<PeFormat>& stubFormat) {
  ScannedFolder result{ScanFolder(folder, options.scan), PayloadName(options.launch)};
  CheckPackable(folder, result.scan, result.launch, CodePageOf(options));
  if (stubFormat) CheckFitsTheStub(folder, result.scan, *stubFormat);
  CheckOutputOutsideFolder(options.output, folder, result.scan);
  result.scan.problems.ThrowIfAny(folder);
  ReportLeftOut(result.scan, err);
  if (options.codePage) StoreNamesIn(*options.codePage, result.scan, result.launch);
  return result;
}

// The stub as it will carry the payload: read, branded, and laid out once with an empty payload,
// so that a stub that cannot take one (signed, with an overlay, damaged) fails before the folder
// is read, and the length of the program's bytes in front of the payload is known.
struct PackingStub {
  std::string path;
  PeImage image;
  ResourceTree resources;
  size_t headSize = 0;
};

PackingStub StubForPacking(const Options& options, std::ostream& err) {
  PackingStub stub;
  stub.path = options.stub.empty() ? FindDefaultStub() : options.stub;
  std::vector<uint8_t> bytes = ReadFileBytes(stub.path);
  try {
    ReadPeImage(bytes);
  } catch (const PeError& error) {
    throw ToolError(stub.path, std::string("cannot serve as the setup stub: ") + error.what());
  }
  bytes = BrandStubAsRequested(std::move(bytes), stub.path, options.branding, err);
  try {
    stub.image = ReadPeImage(std::move(bytes));
    stub.resources = ReadResources(stub.image);
    SetDeferredPayloadResource(stub.resources, 0);
    stub.headSize = WritePeImageAroundPayload(stub.image, stub.resources).head.size();
  } catch (const PeError& error) {
    throw ToolError(stub.path, std::string("cannot take the payload: ") + error.what());
  }
  return stub;
}

// The output as the stream goes into it; for a program, the stream's words are summed on the way
// for the checksum that the finished program carries.
class OutputSink : public ByteSink {
 public:
  explicit OutputSink(ReplacementFile& file) : file_(file) {}
  void Write(const uint8_t* data, size_t size) override {
    file_.Write(data, size);
    sum_.Add(data, size);
  }
  PeWordSum& sum() { return sum_; }

 private:
  ReplacementFile& file_;
  PeWordSum sum_;
};

// The program's bytes around the payload, now that its size is known: the rest of the resource
// section and what follows it, then the headers and everything in front, written over the
// placeholder that kept their place.
void CompleteProgram(PackingStub& stub, uint64_t streamSize, ReplacementFile& output, PeWordSum& streamSum) {
  ImageAroundPayload parts;
  try {
    SetDeferredPayloadResource(stub.resources, streamSize);
    parts = WritePeImageAroundPayload(stub.image, stub.resources);
  } catch (const PeError& error) {
    throw ToolError(stub.path, std::string("cannot take the payload: ") + error.what());
  }
  if (parts.head.size() != stub.headSize) throw std::logic_error("the program's headers changed size with the payload");
  output.Write(parts.tail.data(), parts.tail.size());
  streamSum.Add(parts.tail.data(), parts.tail.size());
  SealChecksum(parts, streamSum);
  output.WriteAt(0, parts.head.data(), parts.head.size());
}

int RunPack(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool withStub) {
  const Options options = ParseOptions(arguments, Accepted{true, true, withStub, true, false, false, true, true});
  if (options.help) {
    out << (withStub ? kPackHelp : kPayloadHelp);
    return 0;
  }
  const std::string& folder = OneOperand(options, "the folder to pack (DIR)");
  if (options.output.empty()) throw UsageError("missing -o OUT");

  std::optional<PackingStub> stub;
  std::optional<PeFormat> stubFormat;
  if (withStub) {
    stub = StubForPacking(options, err);
    stubFormat = stub->image.format;
  }
  const ScannedFolder scanned = ScanForPacking(options, folder, err, stubFormat);
  MergeFileSource merge(scanned.scan.files, scanned.launch);

  // The payload streams from the folder's files through the compressor into the output file; a
  // program's headers, which depend on the payload's size, are written last over a placeholder.
  ReplacementFile output(options.output);
  if (stub) {
    const std::vector<uint8_t> placeholder(stub->headSize, 0);
    output.Write(placeholder.data(), placeholder.size());
  }
  OutputSink sink(output);
  uint64_t streamSize = 0;
  {
    ProgressBar bar(err, StderrIsTerminal());
    try {
      streamSize = CompressStream(
          merge, sink, options.threads, [&](uint64_t done, uint64_t total) { bar.Show("packing", done, total); },
          options.level);
    } catch (const std::bad_alloc&) {
      throw ToolError(folder, "not enough memory to pack the folder");
    }
  }
  if (stub) CompleteProgram(*stub, streamSize, output, sink.sum());
  output.Commit();
  const size_t fileCount = scanned.scan.files.size();
  out << options.output << ": " << fileCount << (fileCount == 1 ? " file, " : " files, ") << merge.Size()
      << " bytes, compressed to " << streamSize << " bytes\n";
  return 0;
}

int RunList(const std::vector<std::string>& arguments, std::ostream& out) {
  const Options options = ParseOptions(arguments, Accepted{false, false, false, false, true, false, true, false});
  if (options.help) {
    out << kListHelp;
    return 0;
  }
  const std::string& file = OneOperand(options, "the setup program or payload to list (FILE)");
  const LoadedPayload payload = LoadPayload(file);
  if (options.json) {
    WriteJsonListing(payload, out, CodePageOf(options));
  } else {
    WriteListing(payload, out, CodePageOf(options));
  }
  return 0;
}

int RunVerify(const std::vector<std::string>& arguments, std::ostream& out) {
  const Options options = ParseOptions(arguments, Accepted{false, false, false, false, false, false, true, false});
  if (options.help) {
    out << kVerifyHelp;
    return 0;
  }
  const std::string& file = OneOperand(options, "the setup program or payload to verify (FILE)");
  const LoadedPayload payload = LoadPayload(file);
  CheckPayload(payload, file, CodePageOf(options));
  const size_t count = payload.contents.entries.size();
  out << file << ": OK, " << count << (count == 1 ? " file, " : " files, ") << payload.merge.expandedSize
      << " bytes expanded from " << payload.stream.size << ", launch "
      << (payload.contents.launchName.empty() ? "(none)"
                                            : "\"" + ShownName(payload.contents.launchName, CodePageOf(options)) + "\"") << "\n";
  return 0;
}

int RunExtract(const std::vector<std::string>& arguments, std::ostream& out) {
  const Options options = ParseOptions(arguments, Accepted{false, false, false, false, false, true, true, false});
  if (options.help) {
    out << kExtractHelp;
    return 0;
  }
  const std::string& file = OneOperand(options, "the setup program or payload to extract (FILE)");
  if (options.folder.empty()) throw UsageError("missing -C DIR");
  const InputFile input(file);
  // The first pass checks the whole stream, so that a payload damaged near its end writes nothing.
  const LoadedPayload payload = LoadPayload(input, file);
  ExtractPayload(payload, input, file, options.folder, CodePageOf(options));
  return 0;
}

int RunCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const std::string& command = arguments[0];
  if (command == "pack") return RunPack(arguments, out, err, true);
  if (command == "payload") return RunPack(arguments, out, err, false);
  if (command == "list") return RunList(arguments, out);
  if (command == "verify") return RunVerify(arguments, out);
  return RunExtract(arguments, out);
}

bool IsCommand(const std::string& name) {
  return name == "pack" || name == "payload" || name == "list" || name == "verify" || name == "extract";
}

}  // namespace

int RunMksetup(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.empty()) {
    err << kGeneralHelp;
    return kExitUsage;
  }
  if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
    out << kGeneralHelp;
    return 0;
  }
  if (!IsCommand(arguments[0])) {
    err << "mksetup: unknown command '" << arguments[0] << "' (see 'mksetup --help')\n";
    return kExitUsage;
  }
  try {
    return RunCommand(arguments, out, err);
  } catch (const UsageError& error) {
    err << "mksetup " << arguments[0] << ": " << error.what() << " (see 'mksetup " << arguments[0] << " --help')\n";
    return kExitUsage;
  } catch (const ToolError& error) {
    err << "mksetup: " << error.what() << "\n";
  } catch (const std::bad_alloc&) {
    err << "mksetup: " << arguments[0] << ": not enough memory\n";
  } catch (const std::exception& error) {
    err << "mksetup: " << arguments[0] << ": " << error.what() << "\n";
  }
  return kExitFailure;
}
