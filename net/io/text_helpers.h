#pragma once

// Small C-string helpers for reading header lines, URLs and similar network text. Every function
// accepts null pointers, never writes past the capacity it is given, and runs in time linear in
// the text it looks at.

/// Copies field number `index` (counted from 0) of `text` into `out`. A field is a run of
/// characters none of which occurs in `delimiters`; runs of delimiters separate like one, and
/// delimiters at the start or end make no empty fields. With `quote` not NUL, each quote character
/// toggles a quoted state in which delimiters do not separate; the quote characters stay part of
/// the field and never act as delimiters.
/// Whenever `out` is non-null and `capacity` > 0, `out` is first made "". Returns 0 when the field
/// exists and fits with its NUL into `capacity` bytes; otherwise 1, with `out` left "".
int splitField(const char* text, const char* delimiters, int index, char* out, int capacity,
               char quote = '\0');

/// Reads field number `index` as a decimal integer: leading white space and a sign are accepted,
/// reading stops at the first other character, a field without digits reads as 0, and values
/// beyond the int range are clamped to it. Returns 0 with `value` set; 1, with `value` untouched,
/// when the field does not exist or is longer than 59 characters.
int splitFieldInt(const char* text, const char* delimiters, int index, int& value);

/// The number of fields splitField finds in `text` without a quote character; 0 for a null or
/// empty text or one made only of delimiters.
int countFields(const char* text, const char* delimiters);

/// Removes up to two CR or LF characters from the end of `text` ("a\r\n" becomes "a"); characters
/// before a last character that is not CR or LF are never touched. A null text is ignored.
void stripLineEnd(char* text);

/// True when the last character of `text` is CR or LF; false for a null or empty text.
bool endsWithLineEnd(const char* text);

/// True when `a` and `b` hold the same characters, ASCII letters compared without their case.
/// Both texts must not be null.
bool equalsIgnoringCase(const char* a, const char* b);
