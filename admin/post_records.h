// A post's records in the comment logs: the mark by which a record names the post it records,
// and the blanking of the post's name and four characters in those records, in place, as
// zt-admin redact and rollback blank them. The caller holds the posting lock.
//
// The default record templates begin with the mark, a comment holding the post's offset in the
// text, which zt-write gives the field prev while it writes the records (records.h):
//
//   <!--16--><li>...the rest of the record...       a record of post 3, at offset 16
//
// A record is read against the first line of its template as the board holds it now: the
// template's text as it stands, the four characters as the text holds them (or blanked), the
// offset as the mark, the time and the colour as the record callbacks write them, the address
// without a space, the name and every other value as their encoder may write them. Where one
// reading fits, and only one, every place of the name and of the four characters is blanked
// in its stored length: in HTML with full-width spaces (a space for an odd byte), in a URL
// with '-'. A record that fits no reading or several is left as it is, and counted.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view RECORD_MARK_OPEN = "<!--";
inline constexpr std::string_view RECORD_MARK_CLOSE = "-->";

// Whether the record template bytes, as the board holds them, begin with the mark.
bool record_template_marked(std::string_view bytes);

// "zt/zt-com4.htm has no mark of the post it records" and what follows from it, for an
// operator; empty when the template in dir has the mark or is missing.
std::string unmarked_template_warning(const std::string &dir, int digit);

// Reads the content of one record against the first line of the record template bytes, as
// the record of the post at offset whose unit is four, and gives in *blanked the record with
// the post's name and four characters blanked. 1 when one reading fits; 0 when none does, -1
// when several do, the template has too many pieces or the reading takes too long (as a
// hostile record against an odd template may), with *blanked untouched.
int blank_record(std::string_view template_bytes, std::string_view record, std::string_view four,
                 long long offset, std::string *blanked);

// What blanking found in one log.
struct LogBlanking {
    std::string skipped;   // why the log was left as it is (missing, no mark, ...), or empty
    long long blanked = 0; // records of the posts rewritten
    long long blank = 0;   // records of the posts that were blank already
    long long unfit = 0;   // records of the posts that fit their template in no one way: left
    long long failed = 0;  // records whose rewrite failed
};

// Blanks the records of the posts at offsets (ascending) in every log of the board in dir.
// text is the whole text before any of these posts is blanked or cut. One entry per log.
std::vector<LogBlanking> blank_post_records(const std::string &dir, std::string_view text,
                                            std::span<const long long> offsets);

// One line per log that says what blank_post_records did there.
void print_blanking(const std::vector<LogBlanking> &logs);
