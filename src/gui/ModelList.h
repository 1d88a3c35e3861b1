#pragma once
// The list of models a user can choose and the choices of a model load:
// the models are the entries of the models directory that end in ".config",
// named without it.

#include <string>
#include <vector>

// Names of the entries of the directory at path that end in suffix (a name
// no longer than the suffix does not count), without it, sorted byte-wise
// ascending; empty when the directory cannot be opened.
std::vector<std::string> listFiles(const char* path, const char* suffix);

// 1 + the position of the entry equal to name, 0 when there is none.
int modelListIndex(const std::vector<std::string>& list, const std::string& name);

// The entry at a 1-based index; "" for 0 (the empty first entry) or an index
// past the end.
std::string modelListEntry(const std::vector<std::string>& list, int index);

// Element model of a load: 1 to 4 as chosen, anything else 0.
int elementModelForChoice(int choice);

// Time integration scheme of a selection number: 0-3 as they are, 4 and 5
// exchanged, anything else 0.
int schemeForSelection(int selection);
