#pragma once
#include <windows.h>

#include <string>

#include "standin_record.h"

// The stand-in's own side of the record (see standin_record.h for the readers' side). Every
// object of the stand-in lives on its apartment's thread; the counters are interlocked anyway
// because tests may read them from another thread.

struct CPageRecord {
    std::wstring page;
    std::wstring resultText, resultColor;
    std::wstring queryText, queryColor;
    bool hasSearch = false;
    std::wstring search;
    bool hasScriptError = false;
    std::wstring scriptError;
};

namespace Record {

void ObjectCreated();
void ObjectDestroyed();
void AddReferences(LONG delta);
void Count(int which);                 // +1 on a counter
void SetState(int which, LONG value);  // silent, status bar, tool bar
void PageClosed(const CPageRecord& page);
int DocumentMode();
void SetDocumentMode(int mode);

// Module entry and exit: environment settings, heap, the last file write.
void Start();
void Stop();

}  // namespace Record
