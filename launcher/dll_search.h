#pragma once

// From here on, a DLL that the system loads at run time is looked for in the
// system directory alone: never in the current directory or beside the
// program, where packages are staged and whoever stages them could plant
// one. A system without the call (Windows 7 without KB2533623) keeps its
// default search.
void searchDllsInSystemDirectoryOnly();
