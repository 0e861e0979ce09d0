// An image body written, as it arrives on the transfer thread, into a hidden temporary file of
// the run's folder (or, while that is not made yet, of a folder above it), and put under its final
// name only at the entry's turn.
#pragma once

#include "store/fileio.h"
#include "web/bodysink.h"

#include <QByteArray>
#include <QString>

#include <mutex>

class StreamedFile final : public BodySink
{
public:
    // folder: where the temporary file goes, ending in the separator.
    explicit StreamedFile(const QString& folder);
    ~StreamedFile() override;
    StreamedFile(const StreamedFile&) = delete;
    StreamedFile& operator=(const StreamedFile&) = delete;

    // Only a body that begins FF D8 is written: any other is refused at its turn unwritten, so
    // its bytes are only counted. The temporary file is made with the first two bytes. A failed
    // write (a full disk, a folder removed meanwhile) ends the transfer; the file stays, stopped,
    // until the entry's turn tells the failure or discards it.
    bool write(const char* bytes, std::size_t size) override;
    // Closes the temporary file; a failure to close is the write's failure.
    void end() override;
    void discard() override;

    // The write that failed, as the entry's turn reports it; number 0 when none did.
    FileResult failure() const;
    // Puts the complete body under path as writeFileWhole would (see placeTemporaryFile); the
    // temporary file is gone afterwards either way. path may be in another folder than the
    // temporary file, even on another file system.
    FileResult commit(const QString& path);

private:
    void removeLocked();
    // Whether a rename of the temporary file reaches target (as encoded for the system).
    bool onFileSystemOf(const QByteArray& target) const;

    mutable std::mutex m_mutex;
    const QString m_folder;
    QByteArray m_head; // the first two bytes, until they decide
    QByteArray m_name; // the temporary file's path; empty: none made
    int m_fd = -1; // -1 once the body has ended
    int m_errno = 0; // the failed write's; 0: none
    bool m_dropping = false; // no JPEG: nothing is written
    bool m_ended = false; // committed or discarded: nothing more is written
};
