// Texts that the records databases keep as they are. PostgreSQL's text
// refuses the NUL character, and a lone UTF-16 surrogate (which JSON's
// \uD800 escapes can make) has no UTF-8 form: either would keep a run on
// the forward queue for good or come back changed. A record holding one is
// refused when it is stored, naming the field.
#pragma once

#include <QJsonObject>
#include <QString>

namespace bms::records {

// The first text or key of `record` that cannot be kept, as its path and
// why ("steps[2].reason holds a NUL character", "a key of pack holds a lone
// UTF-16 surrogate"); empty when every text can be kept.
QString UnstorableText(const QJsonObject& record);

// `text` can be kept as it is.
bool StorableText(QStringView text);

} // namespace bms::records
