#include "widgets/single_instance.h"

#include "common/error_codes.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "widget_wait.h"

#include <QLocalSocket>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace brindle {
namespace {

class SingleInstanceTest : public ::testing::Test {
  protected:
    test::TempDir runtime_;
    test::ScopedEnv env_{"XDG_RUNTIME_DIR", runtime_.Path().c_str()};
};

// A second start on the same data folder reaches the first, which is asked
// to show itself; a start on another folder finds nobody.
TEST_F(SingleInstanceTest, SecondStartRaisesTheFirst) {
    SingleInstance first(SINGLE_INSTANCE_HOST, "/data/a");
    ASSERT_EQ(first.Listen(), 0u);
    QSignalSpy shown(&first, &SingleInstance::ShowRequested);
    EXPECT_TRUE(
        first.Name().startsWith(QString::fromStdString(runtime_.Path() + "/brindle-host-")));

    struct stat st {};
    ASSERT_EQ(::stat(first.Name().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the socket is for its user only";

    SingleInstance second(SINGLE_INSTANCE_HOST, "/data/a");
    EXPECT_EQ(second.Listen(), ERROR_ALREADY_EXISTS_CODE);
    EXPECT_EQ(second.NotifyRunning(), 0u);
    ASSERT_TRUE(test::WaitWithEvents([&] { return shown.count() == 1; }));

    SingleInstance otherFolder(SINGLE_INSTANCE_HOST, "/data/b");
    SingleInstance otherProgram(SINGLE_INSTANCE_VIEW, "/data/a");
    EXPECT_EQ(otherFolder.NotifyRunning(), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_EQ(otherProgram.NotifyRunning(), ERROR_FILE_NOT_FOUND_CODE);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.count(), 1);
}

// Whatever else a client sends is dropped and its connection closed; the
// real command still works afterwards.
TEST_F(SingleInstanceTest, DropsAnythingButTheCommand) {
    SingleInstance first(SINGLE_INSTANCE_VIEW, "/data");
    ASSERT_EQ(first.Listen(), 0u);
    QSignalSpy shown(&first, &SingleInstance::ShowRequested);
    const QByteArray garbage[] = {
        "hello",
        "BRINDLE SHOX\n",
        "BRINDLE SHOW\nand more",
        QByteArray(1 << 20, '\xff'),
    };
    for (const QByteArray& bytes : garbage) {
        SCOPED_TRACE(bytes.left(24).toStdString());
        QLocalSocket client;
        client.connectToServer(first.Name());
        ASSERT_TRUE(client.waitForConnected(20000));
        client.write(bytes);
        ASSERT_TRUE(
            test::WaitWithEvents([&] { return client.state() == QLocalSocket::UnconnectedState; }));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.count(), 0);

    SingleInstance second(SINGLE_INSTANCE_VIEW, "/data");
    EXPECT_EQ(second.NotifyRunning(), 0u);
    EXPECT_TRUE(test::WaitWithEvents([&] { return shown.count() == 1; }));
}

// A crashed run leaves its socket file; the next start replaces it.
TEST_F(SingleInstanceTest, ReplacesTheSocketOfACrashedRun) {
    QString name;
    ASSERT_EQ(SingleInstanceName(SINGLE_INSTANCE_HOST, "/data", name), 0u);
    std::string path = name.toStdString();
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd); // bound, never listened, file left behind

    SingleInstance first(SINGLE_INSTANCE_HOST, "/data");
    ASSERT_EQ(first.Listen(), 0u);
    QSignalSpy shown(&first, &SingleInstance::ShowRequested);
    SingleInstance second(SINGLE_INSTANCE_HOST, "/data");
    EXPECT_EQ(second.NotifyRunning(), 0u);
    EXPECT_TRUE(test::WaitWithEvents([&] { return shown.count() == 1; }));
}

} // namespace
} // namespace brindle
