// Compare with Stored Image: every quality measure of the displayed picture against the
// picture kept by Store image 1, as the command-line tool's compare reports them, and
// the difference map.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/failure.h"
#include "app/mainwindow.h"
#include "app/statusbar.h"
#include "commands/filepicture.h"
#include "commands/registry.h"
#include "utility/metrics.h"

namespace tvq {

namespace {

// The difference of full colour in the map, in levels (the tool's default).
constexpr double kDiffScale = 32.0;

QString Fixed(double value, int decimals) {
  if (std::isnan(value)) return "n/a";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return QString::number(value, 'f', decimals);
}

// The measures as lines, in the order and words of the tool's table.
QString Report(const ComparedPictures& c) {
  const Metrics& m = c.metrics;
  const EdgeBandOptions& e = c.options.edges;
  QString text;
  text += QStringLiteral("reference: Store image 1 (%1x%2)\n").arg(c.widthA).arg(c.heightA);
  text += QStringLiteral("test:      displayed picture (%1x%2)\n\n").arg(c.widthB).arg(c.heightB);
  text += "PSNR RGB       " + Fixed(m.rgb.psnr, 4) + " dB (MSE " + Fixed(m.rgb.mse, 4) + ")\n";
  text += "PSNR Y         " + Fixed(m.y.psnr, 4) + " dB (MSE " + Fixed(m.y.mse, 4) +
          "; BT.601 luma, 16..235)\n";
  text += "SSIM Y         " + Fixed(m.ssim, 6) + "\n";
  text += "MS-SSIM Y      " + Fixed(m.msSsim, 6) + "\n";
  text += "GMSD Y         " + Fixed(m.gmsd, 6) + " (0 for identical pictures)\n";
  text += "Edge PSNR Y    " + Fixed(m.edges.psnr, 4) +
          QStringLiteral(" dB (%1 to %2 px from edges, %3 pixels)\n")
              .arg(e.inner)
              .arg(e.outer)
              .arg(m.edges.bandPixels);
  text += "Edge overshoot " + Fixed(m.edges.overshoot, 4) +
          " levels beyond the reference's 5x5 range (edges: Sobel gradient above " +
          Fixed(e.threshold, 0) + " levels per pixel)\n";
  return text;
}

// The difference map as a 24-bit picture.
Bitmap MapBitmap(const TImageF4& map) {
  Bitmap bitmap(map.Width(), map.Height(), 24);
  for (std::int32_t y = 0; y < map.Height(); ++y) {
    const float* in = map.Row(y);
    std::uint8_t* out = bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < map.Width(); ++x)
      for (int k = 0; k < 3; ++k) out[3 * x + k] = static_cast<std::uint8_t>(in[4 * x + k]);
  }
  return bitmap;
}

}  // namespace

TImageF4 MainWindow::DisplayedColour() const {
  const CommandInput input = PrepareInput(FilePictureOf(picture_, extras_));
  TImageF4 colour;
  input.Source().Read(ifF4, colour);
  return colour;
}

void MainWindow::CompareWithStored() {
  const QString name = "Compare with Stored Image";
  if (!storedColour1_) {
    ShowMessage("Store a picture first (View > Store Image for Comparison, or Store image 1).",
                name, true);
    return;
  }
  QString report;
  std::shared_ptr<TImageF4> map;
  try {
    const TImageF4 test = DisplayedColour();
    const ComparedPictures c =
        ComparePictures(*storedColour1_, test, 0, false, "Store image 1", "the displayed picture");
    report = Report(c);
    map = std::make_shared<TImageF4>(DifferenceMap(Luma(c.partA), Luma(c.partB), kDiffScale));
  } catch (...) {
    ShowFailure(std::current_exception(), FailurePlace(name));
    return;
  }

  QDialog dialog(this);
  dialog.setObjectName("CompareDialog");
  dialog.setWindowTitle(name);
  auto* text = new QPlainTextEdit(report, &dialog);
  text->setObjectName("CompareReport");
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  text->setFont(fixed);
  // Wide enough for the longest line, tall enough for all of them.
  const QFontMetrics metrics(fixed);
  int widest = 0;
  for (const QString& line : report.split('\n'))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  text->setMinimumSize(widest + 4 * metrics.averageCharWidth(), metrics.lineSpacing() * 13);
  auto* caption = new QLabel("&Measures:", &dialog);
  caption->setBuddy(text);
  text->setAccessibleName("Measures");
  auto* copy = new QPushButton("&Copy", &dialog);
  copy->setObjectName("CopyButton");
  copy->setAutoDefault(false);
  auto* showMap = new QPushButton("Show &Difference Map", &dialog);
  showMap->setObjectName("DifferenceMapButton");
  showMap->setAutoDefault(false);
  showMap->setToolTip(
      QStringLiteral("Replaces the picture with |Y difference| 0 to %1 levels as viridis, "
                     "dark blue to yellow; Undo brings the picture back")
          .arg(kDiffScale));
  auto* close = new QPushButton("Close", &dialog);
  close->setObjectName("CloseButton");
  close->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(copy);
  buttons->addWidget(showMap);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(caption);
  layout->addWidget(text);
  layout->addLayout(buttons);
  connect(copy, &QPushButton::clicked, &dialog,
          [report] { QApplication::clipboard()->setText(report); });
  bool wantMap = false;
  connect(showMap, &QPushButton::clicked, &dialog, [&dialog, &wantMap] {
    wantMap = true;
    dialog.accept();
  });
  connect(close, &QPushButton::clicked, &dialog, &QDialog::reject);
  dialog.exec();
  if (!wantMap) return;
  // The map as a change of the picture, which Undo takes back.
  DisplayedPicture shown;
  shown.bitmap = MapBitmap(*map);
  ShowResult(std::move(shown));
  statusBar_->ShowCommandText("Difference map against Store image 1");
}

}  // namespace tvq
