// The callbacks both archive libraries are handed where the program has nothing to say: no password, never
// cancel, nothing to ask. Standard calling convention, as the libraries call them.
#pragma once

#include <windows.h>

namespace library_callbacks {

int WINAPI DiscardText(char* text, unsigned long length);  // returns the length, as if printed
char* WINAPI KeepComment(char* buffer);
int WINAPI NoPassword(char* buffer, int size, const char* prompt, const char* name);
int WINAPI ReplaceWithoutAsking(char* fileName);
void WINAPI IgnoreMessage(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                          char, const char*, const char*, unsigned long, char);
int WINAPI GoOn(const char* name, unsigned long size);  // 0: do not cancel

}  // namespace library_callbacks
