#include "messages.h"

#include "captions.h"

namespace fwprep::app {

namespace {

QString labelOf(JobKind kind, Field field)
{
    switch (field) {
    case Field::Count:
        return kind == JobKind::Split ? text::dataSayisi() : text::columnSayisi();
    case Field::Width:
        return text::dataUzunlugu();
    case Field::Name:
        break;
    }
    return text::dosyaAdi();
}

QString quoted(const QString& s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

ScreenMessage critical(const QString& text)
{
    return {ScreenMessage::Icon::Critical, text};
}

QString pathOf(const JobError& error)
{
    return QString::fromStdString(error.path);
}

} // namespace

std::optional<ScreenMessage> messageFor(JobKind kind, const JobError& error)
{
    using Kind = JobError::Kind;
    switch (error.kind) {
    case Kind::EmptyField:
        return ScreenMessage{ScreenMessage::Icon::None, QStringLiteral("TextBoxları Doldursana!!!")};
    case Kind::BadNumber:
        return critical(quoted(labelOf(kind, error.field))
            + QStringLiteral(" -32768 ile 32767 arasında bir tam sayı olmalı: ")
            + quoted(QString::fromStdString(error.text)));
    case Kind::NegativeWidth:
        return critical(quoted(text::dataUzunlugu()) + QStringLiteral(" negatif olamaz: ")
            + QString::number(error.value));
    case Kind::InputMissing:
        return critical(QStringLiteral("Dosya bulunamadı: ") + pathOf(error));
    case Kind::InputUnreadable:
        return critical(QStringLiteral("Dosya okunamadı: ") + pathOf(error) + QLatin1Char('\n')
            + QString::fromStdString(error.reason));
    case Kind::InputIsOutput:
        return critical(QStringLiteral("Girdi dosyası çıktı dosyasının kendisi olamaz: ") + pathOf(error));
    case Kind::OutputUnwritable:
        return critical(QStringLiteral("Dosya yazılamadı: ") + pathOf(error) + QLatin1Char('\n')
            + QString::fromStdString(error.reason));
    case Kind::Cancelled:
        return std::nullopt;
    case Kind::OutOfMemory:
        return critical(QStringLiteral("Bu iş için yeterli bellek yok."));
    case Kind::BadInput: // only for the command line's layouts and CSV; a screen's job has none
        return critical(pathOf(error) + QLatin1Char('\n') + QString::fromStdString(error.reason));
    }
    return std::nullopt;
}

} // namespace fwprep::app
