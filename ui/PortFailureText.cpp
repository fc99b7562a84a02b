#include "ui/PortFailureText.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <optional>

namespace irdload::ui {
namespace {

constexpr const char* kContext = "PortFailure";

// The sentence in the installed language; nothing when that language has none, and the English
// text stays as the ports layer worded it.
std::optional<QString> Translated(const char* source) {
  QString text = QCoreApplication::translate(kContext, source);
  if (text == QString::fromUtf8(source)) return std::nullopt;
  return text;
}

QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

QString Holders(const std::vector<OpenFailureHolder>& holders) {
  QStringList names;
  for (const OpenFailureHolder& h : holders) {
    names << (h.self ? QCoreApplication::translate("PortFailure", "%1 (pid %2, this program)")
                     : QCoreApplication::translate("PortFailure", "%1 (pid %2)"))
                 .arg(QString::fromStdString(h.command), QString::fromStdString(h.pid));
  }
  return names.join(QStringLiteral(", "));
}

std::optional<QString> Words(const OpenFailureReason& r) {
  const QString path = FromPath(r.devicePath);
  switch (r.kind) {
    case OpenFailureKind::Unexplained:
      return std::nullopt;
    case OpenFailureKind::NotAPortName:
      if (auto s = Translated(QT_TRANSLATE_NOOP("PortFailure", "\"%1\" names no serial port"))) {
        return s->arg(QString::fromStdString(r.portName));
      }
      return std::nullopt;
    case OpenFailureKind::NoSuchDevice:
      if (auto s = Translated(QT_TRANSLATE_NOOP(
              "PortFailure", "no such device: %1 does not exist (is the adapter plugged in?)"))) {
        return s->arg(path);
      }
      return std::nullopt;
    case OpenFailureKind::AdapterWithoutTty: {
      QStringList adapters;
      for (const std::string& a : r.adapters) adapters << QString::fromStdString(a);
      if (auto s = Translated(QT_TRANSLATE_NOOP(
              "PortFailure",
              "no such device: %1 does not exist. The USB serial adapter %2 is plugged in but has "
              "no serial port: another program (brltty) may have claimed it. Run 'irdload-cli "
              "doctor' for the command that frees it."))) {
        return s->arg(path, adapters.join(QStringLiteral(", ")));
      }
      return std::nullopt;
    }
    case OpenFailureKind::Busy:
      if (r.holders.empty()) {
        if (auto s = Translated(QT_TRANSLATE_NOOP(
                "PortFailure",
                "the port %1 is busy: another program holds it. Close that program and try "
                "again."))) {
          return s->arg(path);
        }
      } else if (auto s = Translated(QT_TRANSLATE_NOOP(
                     "PortFailure",
                     "the port %1 is busy: another program holds it (%2). Close that program and "
                     "try again."))) {
        return s->arg(path, Holders(r.holders));
      }
      return std::nullopt;
    case OpenFailureKind::PermissionDenied:
      if (auto s = Translated(QT_TRANSLATE_NOOP(
              "PortFailure",
              "permission denied: this user may not open %1. Add the user to the '%2' group (sudo "
              "usermod -aG %2 $USER), then log out and in again."))) {
        return s->arg(path, QString::fromStdString(r.group));
      }
      return std::nullopt;
    case OpenFailureKind::NoSuchPortOnPc:
      if (auto s = Translated(QT_TRANSLATE_NOOP(
              "PortFailure", "%1; no such port on this PC (irdload-cli ports lists them)"))) {
        return s->arg(QString::fromStdString(r.systemText));
      }
      return std::nullopt;
    case OpenFailureKind::PortInUse:
      if (auto s = Translated(
              QT_TRANSLATE_NOOP("PortFailure", "%1; another program may have the port open"))) {
        return s->arg(QString::fromStdString(r.systemText));
      }
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

QString PortFailureText(const OpenFailureReason& reason, const std::string& english) {
  return Words(reason).value_or(QString::fromStdString(english));
}

}  // namespace irdload::ui
