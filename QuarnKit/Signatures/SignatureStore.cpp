#include "QuarnKit/Signatures/SignatureStore.h"

#include "Platform/FileMoves.h"
#include "Platform/PrivateFiles.h"

#include <nlohmann/json.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace quarnkit {

namespace {

using nlohmann::json;

const QString fileName = QStringLiteral("signatures.json");

std::optional<std::vector<Signature>> decode(const QByteArray& bytes)
{
    const json file = json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (file.is_discarded() || !file.is_object()) return std::nullopt;
    const auto version = file.find("version");
    const auto list = file.find("signatures");
    if (version == file.end() || !version->is_number_integer()) return std::nullopt;
    if (list == file.end() || !list->is_array()) return std::nullopt;
    try {
        return list->get<std::vector<Signature>>();
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

void sortNewestFirst(std::vector<Signature>& signatures)
{
    std::stable_sort(signatures.begin(), signatures.end(),
                     [](const Signature& a, const Signature& b) { return a.created > b.created; });
}

} // namespace

SignatureStoreError::SignatureStoreError(Code code, QString keptAs)
    : m_code(code), m_keptAs(std::move(keptAs)), m_what(description().toStdString())
{}

QString SignatureStoreError::description() const
{
    switch (m_code) {
    case Code::writeFailed: return QStringLiteral("ravlen couldn't update your saved signatures.");
    case Code::unreadable: return QStringLiteral("ravlen couldn't read your saved signatures.");
    case Code::keptAside:
        return QStringLiteral("Your saved signatures file was damaged. ravlen kept it as %1.").arg(m_keptAs);
    }
    return {};
}

QString SignatureStore::defaultDirectory()
{
    // The generic folder, not AppDataLocation: that one follows the running
    // program's name, and tests and tools must find the same file as ravlen.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::home().filePath(QStringLiteral(".local/share"));
    return QDir(base).filePath(QStringLiteral("ravlen"));
}

SignatureStore::SignatureStore(const QString& directory) : m_filePath(QDir(directory).filePath(fileName)) {}

SignatureStore::Reading SignatureStore::read() const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(m_filePath)) return {};
        return {{}, SignatureStoreError(SignatureStoreError::Code::unreadable)};
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return {{}, SignatureStoreError(SignatureStoreError::Code::unreadable)};
    file.close();

    if (auto signatures = decode(bytes)) {
        sortNewestFirst(*signatures);
        return {std::move(*signatures), std::nullopt};
    }
    // Damaged copies are never written over: a later one takes the next free name.
    if (const auto aside = platform::FileMoves::moveAside(m_filePath))
        return {{}, SignatureStoreError(SignatureStoreError::Code::keptAside, *aside)};
    // Kept where it is; refusing to write is the only way not to lose it.
    if (QFileInfo::exists(m_filePath)) return {{}, SignatureStoreError(SignatureStoreError::Code::unreadable)};
    return {};
}

std::vector<Signature> SignatureStore::all() const { return read().signatures; }

std::vector<Signature> SignatureStore::list(Signature::Kind kind) const
{
    auto out = all();
    std::erase_if(out, [&](const Signature& s) { return s.kind != kind; });
    return out;
}

SignatureStore::Reading SignatureStore::add(const Signature& signature)
{
    Reading current = read();
    if (current.problem && current.problem->code() == SignatureStoreError::Code::unreadable) throw *current.problem;
    auto& list = current.signatures;
    std::erase_if(list, [&](const Signature& s) { return s.id == signature.id; });
    list.insert(list.begin(), signature);
    save(list);
    return readBackWith(current.problem);
}

SignatureStore::Reading SignatureStore::remove(const QUuid& id)
{
    Reading current = read();
    if (current.problem && current.problem->code() == SignatureStoreError::Code::unreadable) throw *current.problem;
    if (std::erase_if(current.signatures, [&](const Signature& s) { return s.id == id; }) == 0) return current;
    save(current.signatures);
    return readBackWith(current.problem);
}

SignatureStore::Reading SignatureStore::readBackWith(const std::optional<SignatureStoreError>& earlier) const
{
    Reading back = read();
    if (!back.problem) back.problem = earlier;
    return back;
}

void SignatureStore::save(const std::vector<Signature>& signatures) const
{
    const auto failed = [] { return SignatureStoreError(SignatureStoreError::Code::writeFailed); };
    json file = json::object();
    file["version"] = 1;
    file["signatures"] = signatures;
    const std::string text = file.dump(-1, ' ', false, json::error_handler_t::replace);

    // Handwriting is the user's alone: 0600 in a 0700 folder.
    if (!platform::PrivateFiles::write(m_filePath, QByteArray::fromStdString(text))) throw failed();
}

} // namespace quarnkit
