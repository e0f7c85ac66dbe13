// What the activation actions decide from preload content, apart from reading, writing and
// reporting: content and library path in, outcome (and new content) out.
#ifndef OMBREX_PRELOAD_DECISIONS_H
#define OMBREX_PRELOAD_DECISIONS_H

enum class EnableOutcome {
    AlreadyEnabled,  // an entry for the library path is there
    AnotherInstance, // an uncommented line mentions the library's file name otherwise
    Write,           // newContent holds the content with the entry appended
    NoMemory,
};

struct EnablePlan {
    EnableOutcome outcome;
    char* newContent; // heap text for Write, null otherwise; the caller frees it
};

EnablePlan ombrex_cli_planEnable(const char* content, const char* libraryPath);

enum class DisableOutcome {
    Duplicate,     // two uncommented lines mention the library's file name
    AlreadyAbsent, // no entry for the library path
    Write,         // newContent holds the content without the entry's line
    NoMemory,
};

struct DisablePlan {
    DisableOutcome outcome;
    char* newContent;      // heap text for Write, null otherwise; the caller frees it
    bool referenceRemains; // for Write: an uncommented line still mentions the file name
};

DisablePlan ombrex_cli_planDisable(const char* content, const char* libraryPath);

enum class PreloadVerdict {
    NotEnabled,   // no uncommented line mentions the library's file name
    Enabled,      // one does, and the content has an entry for the library path
    ForeignEntry, // one does, but there is no entry for the library path
    Multiple,     // more than one uncommented line mentions it
};

PreloadVerdict ombrex_cli_judgePreloadContent(const char* content, const char* libraryPath);

#endif
