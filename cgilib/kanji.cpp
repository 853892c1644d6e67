// Placeholder until the converter lands: every request is taken as plain ASCII.
#include "kanji.h"

KanjiCode Tolvak_LastCode = KANJI_SJIS;

KanjiCode Tolvak_DetectCode(const char *)
{
    return KANJI_NONE;
}

void Tolvak_ToSjis()
{
}
