#include "Quarn/Signatures/SignatureLibrary.h"

#include <QCoreApplication>

namespace quarn {

using quarnkit::Signature;

SignatureLibrary& SignatureLibrary::shared()
{
    // Lives until the application ends, like every application-wide object.
    static SignatureLibrary* library = new SignatureLibrary(quarnkit::SignatureStore::defaultDirectory(), qApp);
    return *library;
}

SignatureLibrary::SignatureLibrary(const QString& directory, QObject* parent) : QObject(parent), store_(directory)
{
    quarnkit::SignatureStore::Reading reading = store_.read();
    entries_ = std::move(reading.signatures);
    notice_ = std::move(reading.problem);
}

std::vector<Signature> SignatureLibrary::ofKind(Signature::Kind kind) const
{
    std::vector<Signature> result;
    for (const Signature& s : entries_)
        if (s.kind == kind) result.push_back(s);
    return result;
}

void SignatureLibrary::add(const Signature& signature) { publish(store_.add(signature)); }

void SignatureLibrary::remove(const QUuid& id) { publish(store_.remove(id)); }

void SignatureLibrary::publish(quarnkit::SignatureStore::Reading reading)
{
    if (reading.problem) notice_ = std::move(reading.problem);
    if (reading.signatures == entries_) return;
    entries_ = std::move(reading.signatures);
    emit entriesChanged();
}

std::optional<quarnkit::SignatureStoreError> SignatureLibrary::takeNotice()
{
    return std::exchange(notice_, std::nullopt);
}

} // namespace quarn
