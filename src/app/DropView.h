#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

class QMimeData;

// The drop target for the Steam installer. While a file hovers it shows
// whether the file is a Windows executable, judged by its extension only
// (the file is never opened); an accepted drop hands its path to onDrop.
// Lives on the main thread, where drag events and painting arrive.
class DropView : public QWidget {
    Q_OBJECT

public:
    explicit DropView(QWidget* parent = nullptr);

    // Called synchronously, on the main thread, with the dropped file's path.
    std::function<void(const std::string&)> onDrop;

    // The extension of the last path component as written ("" when none).
    [[nodiscard]] static QString extensionOf(const QString& path);
    [[nodiscard]] static QString wrongFormatMessage(const QString& extension);
    // The path of the first dragged item when it is a file URL.
    [[nodiscard]] static std::optional<QString> candidatePath(const QMimeData* data);

    [[nodiscard]] QColor borderColor() const { return borderColor_; }
    [[nodiscard]] bool isShowingError() const { return showingError_; }
    // The text currently drawn: the hint or the wrong-format message.
    [[nodiscard]] QString displayedText() const;
    [[nodiscard]] QColor textColor() const;
    [[nodiscard]] static QFont textFont();

    static constexpr int cornerRadius = 8;
    static constexpr int borderWidth = 2;
    static constexpr int fontSize = 12;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setBorder(const QColor& color);

    bool showingError_ = false;
    QString errorMessage_;
    QColor borderColor_;
    bool dragOffered_ = false;
};
