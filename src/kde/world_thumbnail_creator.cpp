// The KIO thumbnail plugin KDE's file dialogs and Dolphin load for .wld files:
// the world's thumbnail as wldmap --thumbnail makes it, at the size KIO asks.
#include <KIO/ThumbnailCreator>
#include <KPluginFactory>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <optional>

#include "core/core.h"

namespace wldmap {
namespace {

// The colour table from the installed tree's tilecolors.txt, found from this
// plugin's own folder as the tool finds it from its own, read at the first
// thumbnail; null when it cannot be read, and every thumbnail fails then.
const TileColorTable* colorTable() {
  static const std::optional<TileColorTable> table =
      colorsBesideModule(reinterpret_cast<const void*>(&colorTable), WLDMAP_KDE_DATA_FOLDER);
  return table ? &*table : nullptr;
}

class WorldThumbnailCreator : public KIO::ThumbnailCreator {
  Q_OBJECT

 public:
  WorldThumbnailCreator(QObject* parent, const QVariantList& args)
      : KIO::ThumbnailCreator(parent, args) {}

  // The thumbnail of the world file at the request's URL, at most the larger
  // side of the size asked for; a failing result for a world that cannot be
  // read or is damaged, or without colours. Nothing is thrown, shown or written.
  KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override {
    try {
      const TileColorTable* colors = colorTable();
      const QSize asked = request.targetSize();
      if (!colors || !request.url().isLocalFile() || asked.isEmpty()) {
        return KIO::ThumbnailResult::fail();
      }
      WorldSource world(QFile::encodeName(request.url().toLocalFile()).toStdString());
      const auto size = static_cast<uint32_t>(std::max(asked.width(), asked.height()));
      const BoxMeans thumbnail = world.readThumbnail(*colors, size);
      const ThumbnailSize shape = thumbnail.size();
      // Four bytes a pixel in red, green, blue, alpha order: a Color each, rows
      // without padding.
      QImage image(int(shape.width), int(shape.height), QImage::Format_RGBA8888);
      if (image.isNull()) return KIO::ThumbnailResult::fail();
      thumbnail(0, shape.height, reinterpret_cast<Color*>(image.bits()));
      return KIO::ThumbnailResult::pass(image);
    } catch (...) {
      return KIO::ThumbnailResult::fail();
    }
  }
};

}  // namespace
}  // namespace wldmap

K_PLUGIN_FACTORY_WITH_JSON(WorldThumbnailFactory, "wldmap-thumbnail.json",
                           registerPlugin<wldmap::WorldThumbnailCreator>();)

#include "world_thumbnail_creator.moc"
