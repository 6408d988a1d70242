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
// ravlen-index-reader beside the running program, else in its install
// folder's (the folder above the program's) own libexec or bin folder;
// empty when there is none. Never a path compiled into the program: a build
// folder may be anyone's. What is found runs only when no other user can
// have put it there (Platform/TrustedProgram.h, checked as it starts): the
// install folder of a copy in /tmp/x is /tmp, whose libexec anyone can make.
QString readerProgram();
QString readerProgram(const QString& executableFolder);
// The home folder and any location outside it, without the folders a search
// never shows; the reader found with the program (none: nothing is indexed).
platform::MetadataIndexerOptions indexerOptions();
IndexSearch::Settings searchSettings();
// The application-wide indexer, made (not started) on first use.
platform::MetadataIndexer& indexer();

} // namespace ExploreIndex

} // namespace quarnkit
