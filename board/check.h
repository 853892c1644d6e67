// zt-admin check: whether a board is whole, as an operator wants to know after a crash, a full
// disk, or a web server that killed a post halfway. It reads the files as the programs read
// them and names every place where a program would go wrong:
//
//   zt/zt-text.txt     present, readable and writable, a whole number of 8-byte posts
//   zt/zt-jti.txt      present and exactly two lines
//   zt/zt-com1..8.txt  present, a header the programs can read whose offsets lie in the file,
//                      and the current lap's records walking from the head offset to the end
//                      of the file, each ending where its length says
//   templates          the eleven present
//   lock/zt.lck        absent (a lock that is present is named with its age), lock/ present
//
// The previous lap of a log is not examined: a lap that is being overwritten is cut off by
// design, wherever the newest record ends.
#pragma once

#include <string>
#include <vector>

// The problems of the board in dir, each one line that begins with the file it concerns;
// empty when the board is sound.
std::vector<std::string> check_board(const std::string &dir);

// What is wrong with the size of comment log digit, of size bytes, for the records that its
// template in dir can make: that it holds fewer than RECORDS_PER_LOG of the largest, or that
// their size cannot be bounded. Empty when nothing is, or there is no template or log.
std::string log_size_warning(const std::string &dir, int digit, long long size);

// The command: "zt-admin check DIR". Prints each problem on its own line, or that the board is
// sound, and on standard error a warning for each log too small for its records, which leaves
// the board sound. 0 when sound, 1 when not, 2 for wrong usage.
int check_command(const std::vector<std::string> &operands);
