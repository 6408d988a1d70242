#pragma once
// The saved signatures, kept in one JSON file ("signatures.json") that every
// read goes to and every change rewrites whole, atomically, with sorted keys.
// Signatures come back newest first. Used from the main thread only.
//
// A missing file holds no signatures. A damaged one is moved aside (never
// overwritten, nor put over an earlier damaged copy) and the move is
// reported; a file that cannot be read is left alone and no change is
// written over it.
#include "QuarnKit/Signatures/Signature.h"

#include <QString>

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace quarnkit {

class SignatureStoreError : public std::exception {
public:
    enum class Code {
        writeFailed, // the folder or the file could not be written
        unreadable,  // the file is there but could not be read: changes are refused
        keptAside,   // the file was damaged and has been moved to `keptAs` (a notice)
    };

    explicit SignatureStoreError(Code code, QString keptAs = {});
    Code code() const { return m_code; }
    // The file name a damaged file was moved to (keptAside only).
    const QString& keptAs() const { return m_keptAs; }
    // The sentence shown to the user.
    QString description() const;
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    Code m_code;
    QString m_keptAs;
    std::string m_what;
};

class SignatureStore {
public:
    // The signatures and anything the user must hear about the file.
    struct Reading {
        std::vector<Signature> signatures;          // newest first
        std::optional<SignatureStoreError> problem; // unreadable, or keptAside
    };

    // The application data folder (~/.local/share/ravlen). Creates nothing.
    static QString defaultDirectory();

    // Creates nothing on disk.
    explicit SignatureStore(const QString& directory);

    const QString& filePath() const { return m_filePath; }

    // Reads the file; a damaged file is moved aside here.
    Reading read() const;
    // The signatures alone; empty when the file is missing or could not be read.
    std::vector<Signature> all() const;
    std::vector<Signature> list(Signature::Kind kind) const;

    // Puts the signature first, in place of any with the same id, writes the
    // file and returns it read back. Throws SignatureStoreError (writeFailed,
    // or unreadable when the file could not be read and is left as it was).
    Reading add(const Signature& signature);
    // Removes the signatures with this id; writes only when one was removed.
    // Throws as add() does.
    Reading remove(const QUuid& id);

private:
    void save(const std::vector<Signature>& signatures) const;
    Reading readBackWith(const std::optional<SignatureStoreError>& earlier) const;

    QString m_filePath;
};

} // namespace quarnkit
