#pragma once

#include <QList>
#include <QString>
#include <QStringList>

/// One candidate of the gallery's sample examination.
struct candidate {
    QString zkzh; ///< admission number
    QString xm;   ///< name
    QString xb;   ///< sex
    QString km;   ///< subject
    int cj = 0;   ///< score, 0 … 100
};

/// The subjects of the sample examination, in their usual order.
QStringList sample_subjects();

/// `count` candidates with Chinese names, subjects and scores; the same every time.
QList<candidate> sample_candidates(int count);
