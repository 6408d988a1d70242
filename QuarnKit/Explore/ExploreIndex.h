#pragma once
// This user's file index: where it lives, how the indexer and the searches
// are set up, and the application-wide indexer.
#include "Platform/MetadataIndexer.h"
#include "QuarnKit/Explore/IndexSearch.h"

#include <QString>

namespace quarnkit {

namespace ExploreIndex {

// The cache folder's "ravlen/index.sqlite".
QString path();
// ravlen-index-reader beside the running program, else the one of the build.
QString readerProgram();
// The home folder and any location outside it, without the folders a search
// never shows; the readers of this build.
platform::MetadataIndexerOptions indexerOptions();
IndexSearch::Settings searchSettings();
// The application-wide indexer, made (not started) on first use.
platform::MetadataIndexer& indexer();

} // namespace ExploreIndex

} // namespace quarnkit
