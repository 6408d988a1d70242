#include "QuarnKit/Update/UpdateError.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <set>

using namespace quarnkit;

TEST(UpdateError, EveryCaseHasItsOwnSentenceWithTheNameAsGiven)
{
    const UpdateError all[] = {
        UpdateError::offline,         UpdateError::damagedFeed,     UpdateError::downloadFailed,
        UpdateError::damagedDownload, UpdateError::badSignature,    UpdateError::damagedArchive,
        UpdateError::wrongApp,        UpdateError::wrongChip,       UpdateError::notNewer,
        UpdateError::untrustedCode,   UpdateError::installerFailed, UpdateError::noPrivateFolder};
    std::set<QString> sentences;
    int naming = 0;
    for (const UpdateError error : all) {
        const QString sentence = message(error, "Sample App");
        EXPECT_TRUE(sentence.endsWith(u'.')) << sentence.toStdString();
        EXPECT_FALSE(sentence.contains(u'\u2019')) << "plain apostrophes only";
        sentences.insert(sentence);
        if (sentence != message(error, "Other")) ++naming;
    }
    EXPECT_EQ(sentences.size(), std::size(all));
    EXPECT_EQ(naming, 5);
    EXPECT_EQ(message(UpdateError::badSignature, "Sample App"),
              "The download isn't signed by Sample App, so it wasn't installed.");
    EXPECT_EQ(message(UpdateError::installerFailed, "Sample App"),
              "Sample App couldn't start the installer. Try again.");
    EXPECT_EQ(message(UpdateError::badSignature, ""), "The download isn't signed by , so it wasn't installed.");
}

TEST(UpdatePreferences, AutomaticCheckingIsOnUnlessTurnedOff)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("defaults.json"));
    EXPECT_TRUE(UpdatePreferences::automatic(defaults));
    defaults.set(UpdatePreferences::automaticKey, false);
    EXPECT_FALSE(UpdatePreferences::automatic(defaults));
    defaults.set(UpdatePreferences::automaticKey, "no");
    EXPECT_TRUE(UpdatePreferences::automatic(defaults)) << "a value of another type counts as absent";
}

TEST(UpdatePreferences, ACheckIsDueADayLaterOrWhenTheClockWentBack)
{
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    EXPECT_TRUE(UpdatePreferences::isDue(std::nullopt, now));
    EXPECT_FALSE(UpdatePreferences::isDue(now.addSecs(-86399), now));
    EXPECT_TRUE(UpdatePreferences::isDue(now.addSecs(-86400), now));
    EXPECT_TRUE(UpdatePreferences::isDue(now.addSecs(1), now));
}
