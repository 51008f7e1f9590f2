#include "app/PreviewPanel.h"

#include "app/SymbolImage.h"
#include "platform/x11/PanelWindow.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QEnterEvent>
#include <QLineF>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>
#include <QUrl>

namespace quillet {

namespace {

constexpr qreal cornerRadius = 10;
constexpr int buttonMargin = 6;  // 5.5 points, on whole pixels
constexpr qreal symbolSize = 11;  // the box of a 9.5-point glyph

QColor buttonFill() { return QColor::fromRgbF(0.93f, 0.93f, 0.93f, 0.96f); }
QColor buttonInk() { return QColor::fromRgbF(0.14f, 0.14f, 0.14f, 1.0f); }

// With a compositing manager the card is a translucent dark glass with round corners; without
// one, translucent pixels would show black, so it is opaque and square.
QColor cardBackground(bool rounded) { return rounded ? QColor(28, 28, 30, 215) : QColor(44, 44, 46); }

QPainterPath cardShape(const QRectF& card, bool rounded) {
    QPainterPath path;
    if (rounded) {
        path.addRoundedRect(card, cornerRadius, cornerRadius);
    } else {
        path.addRect(card);
    }
    return path;
}

// Sizes are given in logical pixels ("points"); Qt's fonts want typographic points.
QFont uiFont(qreal pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    font.setPointSizeF(pixelSize * 72.0 / dpi);
    font.setWeight(weight);
    return font;
}

}  // namespace

// ---- CircleButton ------------------------------------------------------------------------------

CircleButton::CircleButton(const QString& symbol, const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    setSymbol(symbol, label);
}

void CircleButton::setSymbol(const QString& symbol, const QString& label) {
    symbolName = symbol;
    labelText = label;
    setToolTip(label);
    setAccessibleName(label);
    update();
}

void CircleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(buttonFill());
    painter.drawEllipse(QRectF(rect()));

    const auto glyph = SymbolImage::render(symbolName, symbolSize, buttonInk(), devicePixelRatioF());
    if (!glyph || glyph->ink.isEmpty()) return;
    if (isDown()) painter.setOpacity(painter.opacity() * 0.6);
    // Centred by the glyph's ink, not by its box.
    const QPointF origin = QRectF(rect()).center() - glyph->ink.center();
    painter.drawImage(origin, glyph->image);
}

// ---- PillButton --------------------------------------------------------------------------------

PillButton::PillButton(const QString& title, QWidget* parent) : QAbstractButton(parent), titleText(title) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    setAccessibleName(title);
}

void PillButton::setTitle(const QString& title) {
    titleText = title;
    update();
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isDown() ? 0.75 : 1.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(buttonFill());
    painter.drawRoundedRect(QRectF(rect()), 12, 12);
    painter.setPen(buttonInk());
    painter.setFont(uiFont(10.5, QFont::Medium));
    painter.drawText(rect(), Qt::AlignCenter, titleText);
}

// ---- HoverOverlayView, WarningLabel ------------------------------------------------------------

HoverOverlayView::HoverOverlayView(bool roundedCard, QWidget* parent) : QWidget(parent), roundedCard(roundedCard) {}

void HoverOverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(cardShape(QRectF(rect()), roundedCard), QColor(0, 0, 0, qRound(0.35 * 255)));
}

WarningLabel::WarningLabel(bool roundedCard, QWidget* parent) : QLabel(parent), roundedCard(roundedCard) {
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setFont(uiFont(11, QFont::Medium));
    // 4 points on each side: the text wraps at the card's width less 8.
    setContentsMargins(4, 3, 4, 3);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    // The strip is part of the card: clicks and drags go to the card beneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void WarningLabel::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // Only the part of the strip that lies on the card, so round corners stay round.
        const QRectF card = parentWidget() ? QRectF(QPointF(-pos()), QSizeF(parentWidget()->size())) : QRectF(rect());
        QColor red(255, 59, 48);
        red.setAlphaF(0.9f);
        painter.fillPath(cardShape(card, roundedCard).intersected(cardShape(QRectF(rect()), false)), red);
    }
    QLabel::paintEvent(event);
}

// ---- PreviewContentView ------------------------------------------------------------------------

PreviewContentView::PreviewContentView(const QImage& thumbnail, bool roundedCard, QWidget* parent)
    : QWidget(parent), roundedCard(roundedCard), thumbnailImage(thumbnail) {
    setFocusPolicy(Qt::NoFocus);

    overlay = new HoverOverlayView(roundedCard, this);
    overlay->hide();
    copyButton = new PillButton(QStringLiteral("Копировать"), overlay);
    closeButton = new CircleButton(QStringLiteral("xmark"), QStringLiteral("Закрыть"), overlay);
    pinButton = new CircleButton(QStringLiteral("pin"), QStringLiteral("Закрепить"), overlay);
    editButton = new CircleButton(QStringLiteral("pencil"), QStringLiteral("Редактировать"), overlay);
    finderButton = new CircleButton(QStringLiteral("folder"), QStringLiteral("Показать в файловом менеджере"), overlay);
    editButton->setEnabled(false);
    finderButton->setEnabled(false);

    connect(copyButton, &QAbstractButton::clicked, this, [this] { invokeCallback(onCopy); });
    connect(closeButton, &QAbstractButton::clicked, this, [this] { invokeCallback(onClose); });
    connect(pinButton, &QAbstractButton::clicked, this, [this] { invokeCallback(onTogglePin); });
    connect(editButton, &QAbstractButton::clicked, this, [this] { invokeCallback(onEdit); });
    connect(finderButton, &QAbstractButton::clicked, this, [this] { invokeCallback(onShowInFinder); });

    warningLabel = new WarningLabel(roundedCard, this);
    warningLabel->hide();
}

void PreviewContentView::setThumbnail(const QImage& image) {
    thumbnailImage = image;
    fitted = QPixmap();
    update();
}

void PreviewContentView::setEditEnabled(bool enabled) {
    editEnabledValue = enabled;
    editButton->setEnabled(enabled);
}

void PreviewContentView::setPinned(bool isPinnedNow) {
    pinned = isPinnedNow;
    if (pinned) {
        pinButton->setSymbol(QStringLiteral("pin.fill"), QStringLiteral("Открепить"));
    } else {
        pinButton->setSymbol(QStringLiteral("pin"), QStringLiteral("Закрепить"));
    }
}

void PreviewContentView::showWarning(const QString& text) {
    warningLabel->setText(text);
    warningLabel->show();
    layoutWarning();
}

bool PreviewContentView::isOverlayShown() const { return overlay->isVisibleTo(this); }

void PreviewContentView::setOverlayShown(bool shown) {
    overlay->setVisible(shown);
    if (warningLabel->isVisibleTo(this)) warningLabel->raise();
}

void PreviewContentView::layoutWarning() {
    if (!warningLabel->isVisibleTo(this)) return;
    const int height = std::min(this->height(), warningLabel->heightForWidth(width()));
    warningLabel->setGeometry(0, this->height() - height, width(), height);
    warningLabel->raise();
}

void PreviewContentView::resizeEvent(QResizeEvent*) {
    overlay->setGeometry(rect());
    const int w = width();
    const int h = height();
    const int circle = closeButton->width();
    copyButton->move((w - copyButton->width()) / 2, (h - copyButton->height()) / 2);
    closeButton->move(buttonMargin, buttonMargin);
    pinButton->move(w - buttonMargin - circle, buttonMargin);
    editButton->move(buttonMargin, h - buttonMargin - circle);
    finderButton->move(w - buttonMargin - circle, h - buttonMargin - circle);
    fitted = QPixmap();
    layoutWarning();
}

const QPixmap& PreviewContentView::fittedThumbnail() {
    const qreal ratio = devicePixelRatioF();
    if (thumbnailImage.isNull()) {
        fitted = QPixmap();
    } else if (fitted.isNull() || !qFuzzyCompare(fitted.devicePixelRatio(), ratio)) {
        const QSize pixels = thumbnailImage.size().scaled((QSizeF(size()) * ratio).toSize(), Qt::KeepAspectRatio);
        fitted = QPixmap::fromImage(thumbnailImage.scaled(pixels.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio,
                                                          Qt::SmoothTransformation));
        fitted.setDevicePixelRatio(ratio);
    }
    return fitted;
}

void PreviewContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF card(rect());
    const QPainterPath shape = cardShape(card, roundedCard);
    if (roundedCard) {
        // The window is translucent: start from nothing so the corners stay clear.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setClipPath(shape);
    }
    painter.fillRect(card, cardBackground(roundedCard));
    const QPixmap& image = fittedThumbnail();
    if (!image.isNull()) {
        const QSizeF logical = image.deviceIndependentSize();
        painter.drawPixmap(QPointF((card.width() - logical.width()) / 2, (card.height() - logical.height()) / 2), image);
    }
    painter.setClipping(false);
    QColor border(Qt::white);
    border.setAlphaF(0.25f);
    painter.setPen(QPen(border, 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cardShape(card.adjusted(0.25, 0.25, -0.25, -0.25), roundedCard));
}

void PreviewContentView::enterEvent(QEnterEvent*) {
    const auto exists = historyFileExists;
    finderButton->setEnabled(exists && exists());
    setOverlayShown(true);
    invokeCallback(onHover, true);
}

void PreviewContentView::leaveEvent(QEvent*) {
    if (dragging) return;  // the overlay stays with the card being dragged
    setOverlayShown(false);
    invokeCallback(onHover, false);
}

void PreviewContentView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) mouseDownPoint = event->position();
    event->accept();
}

void PreviewContentView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mouseDownPoint = event->position();
        // An unsaved capture has nothing the editor could open yet.
        if (editEnabledValue) invokeCallback(onEdit);
    }
    event->accept();
}

void PreviewContentView::mouseReleaseEvent(QMouseEvent* event) {
    mouseDownPoint.reset();
    event->accept();
}

void PreviewContentView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!mouseDownPoint || dragging || !(event->buttons() & Qt::LeftButton)) return;
    if (QLineF(*mouseDownPoint, event->position()).length() < dragThreshold) return;
    beginDrag(*mouseDownPoint);
}

void PreviewContentView::beginDrag(QPointF pressPoint) {
    // One attempt per press: without a file nothing starts until the next press.
    mouseDownPoint.reset();
    const auto supplier = dragFile;
    const std::optional<QString> file = supplier ? supplier() : std::nullopt;
    if (!file) return;

    dragging = true;
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(*file)});
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(dragImage());
    drag->setHotSpot(pressPoint.toPoint());
    // The platform runs the drag in its own event loop until the drop; the panel may be asked
    // to close meanwhile and waits for the drag (PreviewPanel::finishClosing).
    const QPointer<PreviewContentView> alive(this);
    const Qt::DropAction action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    if (!alive) return;
    dragFinished(action != Qt::IgnoreAction);
}

void PreviewContentView::dragFinished(bool accepted) {
    dragging = false;
    const QWidget* panel = window();
    if (!panel || !panel->frameGeometry().contains(QCursor::pos())) {
        setOverlayShown(false);
        invokeCallback(onHover, false);
    }
    invokeCallback(onDragEnded, accepted);
}

QPixmap PreviewContentView::dragImage() const {
    const qreal ratio = devicePixelRatioF();
    QPixmap image((QSizeF(size()) * ratio).toSize());
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    if (!thumbnailImage.isNull()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSizeF fit = QSizeF(thumbnailImage.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(QPointF((width() - fit.width()) / 2, (height() - fit.height()) / 2), fit), thumbnailImage);
    }
    return image;
}

// ---- PreviewPanel ------------------------------------------------------------------------------

PreviewPanel::PreviewPanel(const QImage& thumbnail, QWidget* parent)
    : QWidget(parent), roundedCard(PanelWindow::compositingManagerRunning()) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_AlwaysShowToolTips);  // the panel is never the active window
    if (roundedCard) setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(cardSize);
    setWindowTitle(QStringLiteral("Превью снимка"));
    setAccessibleName(QStringLiteral("Превью снимка"));

    contentView = new PreviewContentView(thumbnail, roundedCard, this);
    contentView->setGeometry(rect());
    contentView->onHover = [this](bool hovering) { invokeCallback(onHover, hovering); };
    contentView->onCopy = [this] { invokeCallback(onCopy); };
    contentView->onEdit = [this] { invokeCallback(onEdit); };
    contentView->onClose = [this] { invokeCallback(onClose); };
    contentView->onTogglePin = [this] { invokeCallback(onTogglePin); };
    contentView->onShowInFinder = [this] { invokeCallback(onShowInFinder); };
    contentView->onDragEnded = [this](bool accepted) {
        invokeCallback(onDragEnded, accepted);
        if (deleteAfterDrag) {
            hide();
            deleteLater();
        }
    };

    // The native window exists from here on, still unmapped, so the desktop learns what kind of
    // window it is before it first shows.
    (void)winId();
    PanelWindow::prepare(windowHandle());
}

void PreviewPanel::clearCallbacks() {
    onHover = nullptr;
    onCopy = nullptr;
    onEdit = nullptr;
    onClose = nullptr;
    onTogglePin = nullptr;
    onShowInFinder = nullptr;
    onDragEnded = nullptr;
    contentView->dragFile = nullptr;
    contentView->historyFileExists = nullptr;
}

void PreviewPanel::fadeIn(std::chrono::milliseconds duration) {
    setWindowOpacity(0.0);
    show();
    auto* animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(static_cast<int>(duration.count()));
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    fadeAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreviewPanel::moveTo(QPoint topLeft, std::chrono::milliseconds duration) {
    target = topLeft;
    if (moveAnimation) moveAnimation->stop();
    if (duration.count() <= 0 || !isVisible() || pos() == topLeft) {
        move(topLeft);
        return;
    }
    auto* animation = new QPropertyAnimation(this, "pos", this);
    animation->setDuration(static_cast<int>(duration.count()));
    animation->setStartValue(pos());
    animation->setEndValue(topLeft);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    moveAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreviewPanel::fadeOutAndClose(std::chrono::milliseconds duration) {
    if (closing) return;
    closing = true;
    if (fadeAnimation) fadeAnimation->stop();
    if (!isVisible() || duration.count() <= 0) {
        finishClosing();
        return;
    }
    auto* animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(static_cast<int>(duration.count()));
    animation->setStartValue(windowOpacity());
    animation->setEndValue(0.0);
    connect(animation, &QPropertyAnimation::finished, this, &PreviewPanel::finishClosing);
    fadeAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreviewPanel::closeNow() {
    closing = true;
    if (fadeAnimation) fadeAnimation->stop();
    if (moveAnimation) moveAnimation->stop();
    finishClosing();
}

void PreviewPanel::finishClosing() {
    // Hiding or deleting the window under a running drag would pull the drag's source away;
    // the drag's end finishes the job instead.
    if (contentView->isDragging()) {
        deleteAfterDrag = true;
        return;
    }
    hide();
    deleteLater();
}

}  // namespace quillet
