#pragma once
// What the analysis hands its download items to: a queue of files to fetch. The download list
// implements it; the search side sees nothing else of the download subject.

#include "core/files/Citation.h"

#include <QString>

namespace quillax {

class DownloadQueue {
public:
    virtual ~DownloadQueue() = default;

    /// Adds a waiting item. Returns false, and adds nothing, when the key (the "|"-joined
    /// addresses) is already queued. `citation` is what is known of the paper, for the exports.
    virtual bool addItem(const QString& key, const QString& name, const QString& type,
                         const QString& folder, const QString& referrer,
                         const Citation& citation = {}) = 0;
    /// How many items the queue holds.
    virtual int count() const = 0;
};

} // namespace quillax
