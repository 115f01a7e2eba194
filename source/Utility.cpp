#include "Utility.h"

#include <cstdio>
#include <cstring>

namespace
{
// Holds the "%.0f" text of any finite double (309 digits and a sign at most).
constexpr std::size_t kTextBufferSize = 3000;
constexpr int kGroupSize = 3;
} // namespace

const char* GetFileNameFromStringPath(const char* pszPath)
{
    const char* pszSlash = std::strrchr(pszPath, '/');
    return pszSlash == nullptr ? nullptr : pszSlash + 1;
}

char* StringMid(const char* pszSource, char* pszDest, int nStart, int nCount)
{
    if (nCount < 0)
        return pszDest;
    std::memset(pszDest, 0, static_cast<std::size_t>(nCount) + 1);
    // A start beyond the source's end copies nothing rather than reading past its NUL.
    const std::size_t nLength = std::strlen(pszSource);
    if (nStart < 0 || static_cast<std::size_t>(nStart) >= nLength)
        return pszDest;
    std::strncpy(pszDest, pszSource + nStart, static_cast<std::size_t>(nCount));
    return pszDest;
}

char* StringLeft(const char* pszSource, char* pszDest, int nCount)
{
    if (nCount > 0)
        std::strncpy(pszDest, pszSource, static_cast<std::size_t>(nCount));
    return pszDest;
}

char* PlaceThouChars(double dValue, char* pszOut)
{
    char szText[kTextBufferSize];
    std::snprintf(szText, sizeof szText, "%.0f", dValue);

    // The sign stays in front; only the digits behind it are grouped.
    const char* pszDigits = szText;
    char* pszNext = pszOut;
    if (*pszDigits == '-')
        *pszNext++ = *pszDigits++;

    const int nLength = static_cast<int>(std::strlen(pszDigits));
    int nGroup = nLength % kGroupSize == 0 ? kGroupSize : nLength % kGroupSize;
    for (int nPos = 0; nPos < nLength; nPos += nGroup, nGroup = kGroupSize)
    {
        if (nPos > 0)
            *pszNext++ = ',';
        StringMid(pszDigits, pszNext, nPos, nGroup);
        pszNext += nGroup;
    }
    *pszNext = '\0';
    return pszOut;
}
