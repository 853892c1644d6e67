// The query-string form of the intake. Nothing is read or copied in advance: a lookup scans
// QUERY_STRING itself and returns a pointer to the raw value inside it, not decoded, not
// converted and not terminated. The value runs on to the end of the query string; every
// caller stops at the next '&'.
#pragma once

// The cached value of QUERY_STRING, taken on the first lookup that finds it set; null before.
extern const char *Tolvak_QueryString;

// A pointer to the byte right after "name=" in the query string, or null when no segment
// starts with it (or QUERY_STRING is unset). The first byte of a segment that does not match
// is passed over unexamined, so an empty segment hides the one after it, as in the full form.
const char *Tolvak_QueryFind(const char *name);
