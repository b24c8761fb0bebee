// The host's trace file "QuorTest.txt" in the working directory. Tracing is on
// only when that file exists at start; the program never creates it. Every
// writer opens, writes and closes the file, so a trace survives an abrupt end.
#pragma once

// Truncates an existing trace file and writes the header of this run; returns
// the value of traceEnabled (false when there is no trace file).
bool startTrace();

// Set once by startTrace; callers test it before writing.
bool traceEnabled();

// Appends the formatted text as it stands (the texts carry their own "\r\n").
void traceAppend(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends the text and "\r\n"; does nothing when the file cannot be opened.
void traceLine(const char* text);

// Appends "\r\n", the local time "HH:MM:SS ", the text and "\r\n".
void traceTimedLine(const char* text);
