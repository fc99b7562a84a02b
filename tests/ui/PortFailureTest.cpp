// Why a port did not open, in the operator's language: Russian under a Russian locale in the
// dialog's box, the port list's tooltip and the station window's log; the English text, exactly
// as the command line and the records have it, under any other. The box's own text ("... Open
// Error!") is the dialog's and stays as it is.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "harness/DialogHarness.h"
#include "ports/SysFiles.h"
#include "support/PtyPair.h"
#include "ui/PortFailureText.h"
#include "ui/StationWindow.h"
#include "ui/Translations.h"

Q_DECLARE_METATYPE(irdload::OpenFailureReason)

namespace irdload::ui::test {
namespace {

// Another process that has `path` open and locked, as a terminal program holds its port.
class LockingProcess {
 public:
  explicit LockingProcess(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls in the child of a threaded program.
      const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      const char answer = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
      (void)!::write(ready[1], &answer, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char answer = 'n';
    locked_ = pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
  }
  ~LockingProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  LockingProcess(const LockingProcess&) = delete;
  LockingProcess& operator=(const LockingProcess&) = delete;

  bool locked() const { return locked_; }
  QString pid() const { return QString::number(pid_); }
  QString command() const {
    return QString::fromStdString(
        sysfiles::ReadSmallFile("/proc/" + std::to_string(pid_) + "/comm"));
  }

 private:
  pid_t pid_ = -1;
  bool locked_ = false;
};

OpenFailureReason Reason(OpenFailureKind kind) {
  OpenFailureReason r;
  r.kind = kind;
  r.portName = "COM3";
  r.devicePath = "/dev/ttyUSB0";
  return r;
}

}  // namespace

class PortFailureTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { InstallTranslation(*qApp, QLocale(QLocale::English)); }

  // Every kind, worded from its values alone.
  void wordsFollowTheReason_data() {
    QTest::addColumn<OpenFailureReason>("reason");
    QTest::addColumn<QString>("russian");
    OpenFailureReason r = Reason(OpenFailureKind::NoSuchDevice);
    QTest::newRow("no such device")
        << r << QStringLiteral("нет такого устройства: /dev/ttyUSB0 (адаптер подключён?)");
    r = Reason(OpenFailureKind::AdapterWithoutTty);
    r.adapters = {"1a86:7523 USB Serial", "10c4:ea60 CP2102"};
    QTest::newRow("adapters without a tty")
        << r
        << QStringLiteral(
               "нет такого устройства: /dev/ttyUSB0. USB-адаптер 1a86:7523 USB Serial, "
               "10c4:ea60 CP2102 подключён, но последовательного порта у него нет: "
               "возможно, его захватила другая программа (brltty). Команду, которая "
               "его освободит, покажет «irdload-cli doctor».");
    r = Reason(OpenFailureKind::Busy);
    QTest::newRow("busy, nobody visible")
        << r
        << QStringLiteral(
               "порт /dev/ttyUSB0 занят другой программой. Закройте её и повторите попытку.");
    r.holders = {{"minicom", "4100", false}, {"irdload", "77", true}};
    QTest::newRow("busy")
        << r
        << QStringLiteral(
               "порт /dev/ttyUSB0 занят другой программой (minicom (pid 4100), irdload "
               "(pid 77, эта программа)). Закройте её и повторите попытку.");
    r = Reason(OpenFailureKind::PermissionDenied);
    r.group = "uucp";
    QTest::newRow("permission denied")
        << r
        << QStringLiteral(
               "нет доступа: этому пользователю нельзя открыть /dev/ttyUSB0. Добавьте "
               "пользователя в группу «uucp» (sudo usermod -aG uucp $USER), затем "
               "выйдите из системы и войдите снова.");
    QTest::newRow("not a port name") << Reason(OpenFailureKind::NotAPortName)
                                     << QStringLiteral("нет последовательного порта «COM3»");
    r = Reason(OpenFailureKind::NoSuchPortOnPc);
    r.systemText = "\\\\.\\COM9: The system cannot find the file specified.";
    QTest::newRow("Windows, no such port")
        << r
        << QStringLiteral(
               "\\\\.\\COM9: The system cannot find the file specified.; такого порта "
               "на этом ПК нет (список портов: irdload-cli ports)");
    r = Reason(OpenFailureKind::PortInUse);
    r.systemText = "\\\\.\\COM9: Access is denied.";
    QTest::newRow("Windows, in use")
        << r
        << QStringLiteral(
               "\\\\.\\COM9: Access is denied.; возможно, порт открыт другой программой");
    // Only the system's own text says why: it is shown as the system gave it.
    r = Reason(OpenFailureKind::Unexplained);
    QTest::newRow("unexplained") << r << QStringLiteral("the English text");
  }
  void wordsFollowTheReason() {
    QFETCH(OpenFailureReason, reason);
    QFETCH(QString, russian);
    const std::string english = "the English text";
    QVERIFY(InstallTranslation(*qApp, QLocale(QStringLiteral("ru_RU"))));
    QCOMPARE(PortFailureText(reason, english), russian);
    for (const char* other : {"en_US", "de_DE"}) {
      InstallTranslation(*qApp, QLocale(QString::fromLatin1(other)));
      QCOMPARE(PortFailureText(reason, english), QString::fromStdString(english));
    }
  }

  // The real dialog on a port that does not open, as the operator presses Send.
  void dialogSaysWhyInTheOperatorsLanguage_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("port");  // the tty the list offers
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("detail");  // <dev> for the device, <pid> and <comm> for its holder
    for (const char* locale : {"ru_RU", "en_US"}) {
      const bool ru = QLatin1String(locale) == QLatin1String("ru_RU");
      QTest::newRow((std::string(locale) + ", no such device").c_str())
          << locale << "ttyUSB0"
          << "absent"
          << (ru ? QStringLiteral("нет такого устройства: <dev> (адаптер подключён?)")
                 : QStringLiteral("no such device: <dev> does not exist (is the adapter plugged "
                                  "in?)"));
      // The test's own process holds the pseudo-terminal too (it made it).
      QTest::newRow((std::string(locale) + ", busy").c_str())
          << locale << "ttyUSB1"
          << "locked"
          << (ru ? QStringLiteral("порт <dev> занят другой программой (<comm> (pid <self>, эта "
                                  "программа), <comm> (pid <pid>)). Закройте её и повторите "
                                  "попытку.")
                 : QStringLiteral("the port <dev> is busy: another program holds it (<comm> (pid "
                                  "<self>, this program), <comm> (pid <pid>)). Close that program "
                                  "and try again."));
      QTest::newRow((std::string(locale) + ", permission denied").c_str())
          << locale << "ttyUSB2"
          << "unreadable"
          << (ru ? QStringLiteral("нет доступа: этому пользователю нельзя открыть <dev>. Добавьте "
                                  "пользователя в группу «<group>» (sudo usermod -aG <group> "
                                  "$USER), затем выйдите из системы и войдите снова.")
                 : QStringLiteral("permission denied: this user may not open <dev>. Add the user "
                                  "to the '<group>' group (sudo usermod -aG <group> $USER), then "
                                  "log out and in again."));
      // The system's own words: the same in every language.
      QTest::newRow((std::string(locale) + ", not a terminal").c_str())
          << locale << "ttyUSB3"
          << "plain file" << QStringLiteral("<dev> is not a serial port (not a terminal device)");
    }
  }
  void dialogSaysWhyInTheOperatorsLanguage() {
    QFETCH(QString, locale);
    QFETCH(QString, port);
    QFETCH(QString, kind);
    QFETCH(QString, detail);
    if (kind == QLatin1String("unreadable") && ::geteuid() == 0) {
      QSKIP("root opens any device node: no permission to be denied");
    }
    InstallTranslation(*qApp, QLocale(locale));

    DialogHarness::Setup setup;
    setup.foundTtys = {port.toStdString()};
    DialogHarness harness(setup);
    const std::filesystem::path node = harness.dir() / "dev" / port.toStdString();
    irdload::test::PtyPair pty;
    std::optional<LockingProcess> holder;
    if (kind == QLatin1String("locked")) {
      std::filesystem::create_symlink(pty.slavePath(), node);
      holder.emplace(pty.slavePath());
      QVERIFY(holder->locked());
      detail.replace(QStringLiteral("<pid>"), holder->pid())
          .replace(QStringLiteral("<self>"), QString::number(::getpid()))
          .replace(QStringLiteral("<comm>"), holder->command());
    } else if (kind != QLatin1String("absent")) {
      std::ofstream(node).put('\0');
      if (kind == QLatin1String("unreadable")) {
        std::filesystem::permissions(node, std::filesystem::perms::none);
      }
      QString group = QString::fromStdString(std::to_string(::getegid()));
      if (const auto name = ::getgrgid(::getegid())) group = QString::fromLocal8Bit(name->gr_name);
      detail.replace(QStringLiteral("<group>"), group);
    }
    const QString device = harness.DevicePath(port.toStdString());
    detail.replace(QStringLiteral("<dev>"), device);

    harness.ClickOpen({harness.WriteImage("image.uuc", kTypeSingle, 100)});
    harness.SelectPort(device);
    harness.presenter().clear();
    harness.ClickSend();
    QTRY_VERIFY_WITH_TIMEOUT(!harness.presenter().shown().empty(), kWaitMs);
    const OperatorMessage& box = harness.presenter().shown().front();
    QCOMPARE(box.text, device + QStringLiteral(" Open Error!"));
    QCOMPARE(box.detail, detail);
    QTRY_VERIFY_WITH_TIMEOUT(harness.dialog().ports().openFailed(), kWaitMs);
    QCOMPARE(harness.Ports()->toolTip(), device + QStringLiteral(" Open Error!\n") + detail);
    harness.dialog().reject();
  }

  // A station socket whose device another program holds: its log line says so in Russian.
  void stationSaysWhyInRussian() {
    QVERIFY(InstallTranslation(*qApp, QLocale(QStringLiteral("ru_RU"))));
    DialogHarness::Setup setup;
    setup.foundTtys = {"ttyUSB1"};
    setup.confirm = [](QWidget*, const QString&) { return true; };
    DialogHarness harness(setup);
    irdload::test::PtyPair pty;
    std::filesystem::create_symlink(pty.slavePath(), harness.dir() / "dev" / "ttyUSB1");
    LockingProcess holder(pty.slavePath());
    QVERIFY(holder.locked());
    const QString device = harness.DevicePath("ttyUSB1");

    StationWindow* station = harness.dialog().OpenStation();
    station->SetFiles({harness.WriteImage("image.uuc", kTypeSingle, 100).toStdString()});
    QVERIFY(station->ChoosePort(device));
    station->StartAll();
    const QString busy =
        QStringLiteral("%1 Open Error!: порт %1 занят другой программой (").arg(device);
    QTRY_VERIFY2_WITH_TIMEOUT(station->logText().contains(busy), qPrintable(station->logText()),
                              kWaitMs);
    QVERIFY(station->logText().contains(QStringLiteral("(pid %1)").arg(holder.pid())));
    station->StopAll();
    QTRY_VERIFY_WITH_TIMEOUT(!station->running(), kWaitMs);
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::PortFailureTest)
#include "PortFailureTest.moc"
