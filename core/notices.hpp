#pragma once
// The texts that say which program this is and whose protocol it speaks: the
// banner, the version, the maker's address line and the protocol notice that
// closes every usage text.

#include <cstdio>

// "<program> 1.0.0 - <purpose>" and an empty line, on standard error.
void print_banner(const char* program, const char* purpose);
// "<program> 1.0.0" and the licence on standard output: what --version shows.
void print_version(const char* program);
// The suite's home page, printed as the last line of every start-up report.
extern const char* const maker_address;
// "%s\n" with the maker's address on `stream`.
void print_maker_line(std::FILE* stream);
// The two lines that close every usage text (after the text's blank line).
extern const char* const protocol_notice;
