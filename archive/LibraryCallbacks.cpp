#include "LibraryCallbacks.h"

namespace library_callbacks {

int WINAPI DiscardText(char*, unsigned long length)
{
    return static_cast<int>(length);
}
char* WINAPI KeepComment(char* buffer)
{
    return buffer;
}
int WINAPI NoPassword(char*, int, const char*, const char*)
{
    return 1;
}
int WINAPI ReplaceWithoutAsking(char*)
{
    return 1;
}
void WINAPI IgnoreMessage(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                          char, const char*, const char*, unsigned long, char)
{
}
int WINAPI GoOn(const char*, unsigned long)
{
    return 0;
}

}  // namespace library_callbacks
