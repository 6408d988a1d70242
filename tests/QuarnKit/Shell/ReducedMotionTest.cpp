#include "QuarnKit/Shell/ReducedMotion.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace RM = quarnkit::ReducedMotion;

TEST(ReducedMotion, GnomeAsksWhenAnimationsAreOff)
{
    EXPECT_EQ(RM::fromGnome("false\n"), true);
    EXPECT_EQ(RM::fromGnome("true\n"), false);
    EXPECT_EQ(RM::fromGnome("No such schema"), std::nullopt);
    EXPECT_EQ(RM::fromGnome(""), std::nullopt);
}

TEST(ReducedMotion, KdeAsksWhenAnimationsAreInstant)
{
    QTemporaryDir dir;
    const struct {
        const char* file;
        std::optional<bool> reduced;
    } cases[] = {
        {"[KDE]\nAnimationDurationFactor=0\n", true},
        {"[KDE]\nAnimationDurationFactor=0.5\n", false},
        {"[KDE]\nSingleClick=false\n", std::nullopt},
        {"[General]\nAnimationDurationFactor=0\n", std::nullopt},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString("kdeglobals-%1").arg(++n));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.file);
        file.close();
        EXPECT_EQ(RM::fromKde(path), c.reduced) << c.file;
    }
    EXPECT_EQ(RM::fromKde(dir.filePath("missing")), std::nullopt);
}
