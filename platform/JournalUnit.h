// JournalUnit: whether an output stream goes to the systemd journal.
//
// A service started by systemd with its output connected to the journal gets
// JOURNAL_STREAM=<device>:<inode> of that stream in its environment. Lines
// written there may then start with a priority prefix ("<3>" error, "<6>"
// information), which the journal takes as the line's priority and strips.
// Thread-safe.
#ifndef VELIO_PLATFORM_JOURNALUNIT_H_
#define VELIO_PLATFORM_JOURNALUNIT_H_

// True when the file descriptor fd (1 stdout, 2 stderr) is the stream that
// JOURNAL_STREAM names. Always false on Windows.
bool StreamIsJournal(int fd);

#endif  // VELIO_PLATFORM_JOURNALUNIT_H_
