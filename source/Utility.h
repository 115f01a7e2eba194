#pragma once

// String functions for paths and numbers. The caller owns every buffer and
// guarantees its size; the copying functions take the source first and the
// destination second.

// Points just past the last '/' of pszPath (at its NUL when the path ends in
// '/'); nullptr when there is no '/'.
const char* GetFileNameFromStringPath(const char* pszPath);

// Copies nCount characters of pszSource from nStart (fewer when the source ends
// first) into pszDest, which must hold nCount + 1 bytes; zero-fills them first.
// A start outside the source copies nothing; a negative nCount touches nothing.
char* StringMid(const char* pszSource, char* pszDest, int nStart, int nCount);

// Copies as strncpy(pszDest, pszSource, nCount) does: no NUL when the source
// has nCount characters or more. A count below 1 touches nothing.
char* StringLeft(const char* pszSource, char* pszDest, int nCount);

// Writes dValue rounded to a whole number with a comma between groups of three
// digits: 1234.6 gives "1,235", -1000 gives "-1,000". pszOut must hold 412
// bytes for any finite value, 413 when it may be negative.
char* PlaceThouChars(double dValue, char* pszOut);
