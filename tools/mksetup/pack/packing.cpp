#include "pack/packing.h"

#include <new>
#include <optional>
#include <stdexcept>

#include "host/files.h"
#include "host/folder_calls.h"
#include "pack/merge_file_source.h"
#include "pack/packable.h"
#include "pack/problem_report.h"
#include "pe/pe_writer.h"
#include "tool_error.h"

namespace {

// An earlier output inside the folder would be packed into the new one, which grows each time.
// Only a file of the output's size can be the output itself, so few are opened to tell.
void CheckOutputOutsideFolder(const std::string& output, const std::string& folder, FolderScan& scan) {
  ItemStatus outputStatus;
  if (!FollowedStatus(output, outputStatus) || outputStatus.type != ItemType::kFile) return;
  for (const SourceFile& file : scan.files) {
    ItemStatus status;
    if (file.size == outputStatus.size && FollowedStatus(file.hostPath, status) &&
        status.identity == outputStatus.identity) {
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

ScannedFolder ScanForPacking(const PackRequest& request, std::ostream& err, const std::optional<PeFormat>& stubFormat) {
  ScannedFolder result{ScanFolder(request.folder, request.scan), PayloadName(request.launch)};
  CheckPackable(request.folder, result.scan, result.launch, request.codePage);
  if (stubFormat) CheckFitsTheStub(request.folder, result.scan, *stubFormat);
  CheckOutputOutsideFolder(request.output, request.folder, result.scan);
  result.scan.problems.ThrowIfAny(request.folder);
  ReportLeftOut(result.scan, err);
  if (request.codePage) StoreNamesIn(*request.codePage, result.scan, result.launch);
  return result;
}

// The stub as it will carry the payload: read, branded, and laid out once with an empty payload,
// so that a stub that cannot take one (signed, with an overlay, damaged) fails before the folder
// is read, and the length of the program's bytes in front of the payload is known.
struct PackingStub {
  std::string path;
  PeImage image;
  ResourceTree resources;
  size_t bytesBeforePayload = 0;
};

PackingStub StubForPacking(const PackRequest& request, std::ostream& err) {
  PackingStub stub;
  stub.path = request.stubPath;
  std::vector<uint8_t> bytes = ReadFileBytes(stub.path);
  try {
    ReadPeImage(bytes);
  } catch (const PeError& error) {
    throw ToolError(stub.path, std::string("cannot serve as the setup stub: ") + error.what());
  }
  bytes = BrandStubAsRequested(std::move(bytes), stub.path, request.branding, err);
  try {
    stub.image = ReadPeImage(std::move(bytes));
    stub.resources = ReadResources(stub.image);
    SetDeferredPayloadResource(stub.resources, 0);
    stub.bytesBeforePayload = WritePeImageAroundPayload(stub.image, stub.resources).beforePayload.size();
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
  if (parts.beforePayload.size() != stub.bytesBeforePayload) {
    throw std::logic_error("the program's headers changed size with the payload");
  }
  output.Write(parts.afterPayload.data(), parts.afterPayload.size());
  streamSum.Add(parts.afterPayload.data(), parts.afterPayload.size());
  SealChecksum(parts, streamSum);
  output.WriteAt(0, parts.beforePayload.data(), parts.beforePayload.size());
}

}  // namespace

PackResult PackFolder(const PackRequest& request, std::ostream& err, const DeflateProgress& progress) {
  std::optional<PackingStub> stub;
  std::optional<PeFormat> stubFormat;
  if (!request.stubPath.empty()) {
    stub = StubForPacking(request, err);
    stubFormat = stub->image.format;
  }
  const ScannedFolder scanned = ScanForPacking(request, err, stubFormat);
  MergeFileSource merge(scanned.scan.files, scanned.launch);

  // The payload streams from the folder's files through the compressor into the output file; a
  // program's headers, which depend on the payload's size, are written last over a placeholder.
  ReplacementFile output(request.output);
  if (stub) {
    const std::vector<uint8_t> placeholder(stub->bytesBeforePayload, 0);
    output.Write(placeholder.data(), placeholder.size());
  }
  OutputSink sink(output);
  PackResult result;
  try {
    result.streamSize = CompressStream(merge, sink, request.threads, progress, request.level);
  } catch (const std::bad_alloc&) {
    throw ToolError(request.folder, "not enough memory to pack the folder");
  }
  if (stub) CompleteProgram(*stub, result.streamSize, output, sink.sum());
  output.Commit();
  result.fileCount = scanned.scan.files.size();
  result.mergeFileSize = merge.Size();
  return result;
}
