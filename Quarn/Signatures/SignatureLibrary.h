#pragma once
// The saved signatures every window, menu and popover shows: one list over
// the signature store, published so that views follow additions and
// deletions at once. It never rereads the file by itself. Main thread only.
#include "QuarnKit/Signatures/SignatureStore.h"

#include <QObject>

#include <optional>
#include <vector>

namespace quarn {

class SignatureLibrary : public QObject {
    Q_OBJECT
public:
    // The application's library over the store in the data folder, made on first use.
    static SignatureLibrary& shared();

    // A library over the store in `directory`, read at once.
    explicit SignatureLibrary(const QString& directory, QObject* parent = nullptr);

    quarnkit::SignatureStore& store() { return store_; }
    const quarnkit::SignatureStore& store() const { return store_; }
    // Every entry, newest first, as the store returned it last.
    const std::vector<quarnkit::Signature>& entries() const { return entries_; }
    std::vector<quarnkit::Signature> signatures() const { return ofKind(quarnkit::Signature::Kind::signature); }
    std::vector<quarnkit::Signature> initials() const { return ofKind(quarnkit::Signature::Kind::initials); }
    std::vector<quarnkit::Signature> ofKind(quarnkit::Signature::Kind kind) const;

    // Keeps the signature in the store and publishes the store's list.
    // Throws SignatureStoreError; the entries stay as they were then.
    void add(const quarnkit::Signature& signature);
    // Deletes the entry from the store and publishes the store's list; throws as add() does.
    void remove(const QUuid& id);

    // What the user must hear about the file from the last reading: a damaged
    // file kept aside, or a file that could not be read. Taken once.
    std::optional<quarnkit::SignatureStoreError> takeNotice();

signals:
    void entriesChanged();

private:
    void publish(quarnkit::SignatureStore::Reading reading);

    quarnkit::SignatureStore store_;
    std::vector<quarnkit::Signature> entries_;
    std::optional<quarnkit::SignatureStoreError> notice_;
};

} // namespace quarn
