// Placeholder until the comment log lands: no log can be opened.
#include "commentlog.h"

int CommentLog_Open(const char *)
{
    return -1;
}

int CommentLog_Append(FILE *)
{
    return -1;
}

void CommentLog_Print(FILE *)
{
}

void CommentLog_Close()
{
}
