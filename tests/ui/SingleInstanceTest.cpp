#include "SingleInstance.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <future>

namespace kestrova {
namespace {

using namespace std::chrono_literals;

// What a later copy hears: send() blocks, so it runs on a thread of its own while the main thread
// serves the socket.
std::optional<QString> sendFromLaterCopy(const SingleInstance& later, const QString& command) {
  auto answer = std::async(std::launch::async, [&] { return later.send(command); });
  const bool answered =
      QTest::qWaitFor([&] { return answer.wait_for(0ms) == std::future_status::ready; }, 5000);
  return answered ? answer.get() : std::nullopt;
}

TEST(SingleInstance, ALaterCopyStandsDownAndItsCommandsAreAnswered) {
  QTemporaryDir dir;
  SingleInstance first(QStringLiteral("kestrova-test"), dir.path());
  QStringList heard;
  ASSERT_TRUE(first.claim([&](const QString& command) {
    heard << command;
    return QStringLiteral("0 heard ") + command;
  }));
  SingleInstance second(QStringLiteral("kestrova-test"), dir.path());
  EXPECT_FALSE(second.claim([](const QString&) { return QString(); }));
  EXPECT_EQ(sendFromLaterCopy(second, "activate"), "0 heard activate");
  EXPECT_EQ(sendFromLaterCopy(second, QString(5000, u'x')), std::nullopt) << "longer than any";
  EXPECT_EQ(heard, QStringList{"activate"});

  SingleInstance otherSession(QStringLiteral("kestrova-other"), dir.path());
  EXPECT_EQ(sendFromLaterCopy(otherSession, "status"), std::nullopt) << "nobody listens there";
  EXPECT_TRUE(otherSession.claim([](const QString&) { return QString(); }));
}

TEST(SingleInstance, LeftoversOfACrashedCopyDoNotBlockTheNextStart) {
  QTemporaryDir dir;
  QFile lock(dir.filePath("kestrova-test.lock"));
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
  lock.write("2147483646\nkestrova\n" + QSysInfo::machineHostName().toUtf8() + "\n");
  lock.close();
  QFile socket(dir.filePath("kestrova-test.socket"));
  ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
  socket.close();

  SingleInstance later(QStringLiteral("kestrova-test"), dir.path());
  EXPECT_EQ(sendFromLaterCopy(later, "status"), std::nullopt);
  SingleInstance instance(QStringLiteral("kestrova-test"), dir.path());
  ASSERT_TRUE(instance.claim([](const QString&) { return QStringLiteral("0 here"); }));
  EXPECT_EQ(sendFromLaterCopy(later, "status"), "0 here");
}

}  // namespace
}  // namespace kestrova
