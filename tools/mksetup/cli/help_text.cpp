#include "cli/help_text.h"

#include "format/setup_identity.h"

std::string GeneralHelp() {
  return
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
}

std::string PackHelp() {
  return
    std::string("usage: mksetup pack DIR -o OUT.exe [--launch RELPATH] [--stub STUB.exe] [--threads N]\n"
    "                    [--level N] [--codepage CP] [--dereference] [--skip-empty]\n"
    "                    [--exclude PATTERN]... [--icon FILE.ico] [--version KEY=VALUE]...\n"
    "\n"
    "Packs every file below DIR, with its times, into a copy of the setup stub. When the setup\n"
    "program runs, it unpacks them below %TEMP%\\") +
    std::string(kExtractionFolderName) +
    "\\ and\n"
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
}

std::string PayloadHelp() {
  return
    "usage: mksetup payload DIR -o FILE [--launch RELPATH] [--threads N]\n"
    "                       [--level N] [--codepage CP] [--dereference] [--skip-empty]\n"
    "                       [--exclude PATTERN]...\n"
    "\n"
    "Writes only the payload of 'mksetup pack': the zlib stream that a setup program carries as\n"
    "its resource \"SETUP\" 2000. Options and refusals are those of 'mksetup pack' (see\n"
    "'mksetup pack --help'); no stub, so no stub's limit applies.\n";
}

std::string ListHelp() {
  return
    "usage: mksetup list FILE [--json] [--codepage CP]\n"
    "\n"
    "Shows the launch name and every file of the payload with its size and its creation,\n"
    "last-access and last-write times (UTC, to 100 ns). --json prints the same as JSON, with the\n"
    "raw FILETIME numbers beside the times. Names are read in code page 1252 unless --codepage\n"
    "names the one they were packed with.\n";
}

std::string VerifyHelp() {
  return
    "usage: mksetup verify FILE [--codepage CP]\n"
    "\n"
    "Checks the payload stream (zlib header, deflate data, Adler-32) and every rule of the data\n"
    "file it expands to, and says precisely what is wrong. Path lengths are judged below a\n"
    "typical temporary folder, C:\\Users\\<20 characters>\\AppData\\Local\\Temp\\. Exits with 0 only\n"
    "when everything is right. Names packed with --codepage CP are checked with the same option.\n";
}

std::string ExtractHelp() {
  return
    "usage: mksetup extract FILE -C DIR [--codepage CP]\n"
    "\n"
    "Unpacks the payload below DIR (created if missing) with the setup program's safety rules:\n"
    "if any entry could land outside DIR, nothing is written; nothing is written through a link\n"
    "already in DIR. Files get their last-write and last-access times, and their creation time\n"
    "where the system can set it. Names packed with --codepage CP are read with the same option.\n";
}
