// A key given twice in one JSON object. QJsonDocument keeps the last one
// without a word, so a record file with {"outcome":"PASS","outcome":"FAIL"}
// would be read as whichever came last; record files are refused instead.
// A scan of the text of its own, run on text the JSON parser has accepted.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace bms::records {

struct DuplicateKey {
    QString key;   // as the parser reads it, escapes decoded
    QString where; // the object's path ("steps[2].limits"); empty for the outermost one
};

// The first object (in the order objects end) of `json` that has a key
// twice; nothing when every object's keys differ. Iterative and linear in
// the text (with a sort of each object's keys): any depth, any size.
std::optional<DuplicateKey> FindDuplicateKey(QByteArrayView json);

} // namespace bms::records
