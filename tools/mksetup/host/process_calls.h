// The running packer as its host knows it: its folder, its command line, its terminal, its
// number among the processes.
#pragma once

#include <string>
#include <vector>

// The folder that holds the running program, with a trailing separator; empty when unknown.
std::string ExecutableFolder();

// The command line's arguments after the program name, as UTF-8 like every path of the packer.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Whether the packer's stderr is a terminal, where a progress line can be redrawn in place.
bool StderrIsTerminal();

unsigned long ProcessId();

// How the host spells names: a stored name's bytes read in the host's ANSI code page (false where
// the host has none), and whether its file system takes names that differ in case for one.
bool DecodeAnsiName(const std::string& bytes, std::string& utf8);
bool NamesFoldCase();
