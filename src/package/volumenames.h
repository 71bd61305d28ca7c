#pragma once

#include <QString>
#include <QStringList>

// Names of the volumes of a multi-volume archive, as the archiver writes and reads them.
//
// The first volume carries the archive's own name. Further volumes follow one of two schemes:
//  - "base.partN.ext": the first volume's number is incremented, keeping its digit count
//    (x.part1.rar, x.part2.rar, ...; x.part01.rar, x.part02.rar, ...);
//  - otherwise "base.ext" followed by "base.L00", "base.L01", ... where L is the first letter
//    of the extension ("r" when there is none): x.w2s, x.w00, x.w01. Past 99 the number simply
//    grows (x.w100); sets of the old archiver that moved on to the next letter (x.r99, x.s00)
//    are named as well.

// Candidate names of volume `index` (>= 1) of the set that starts with firstVolume; the first
// one is the name a new set is written with.
QStringList VolumeCandidates(const QString &firstVolume, int index);

// True when `path` is a further volume ("name.part2.w2s" and on) rather than a set's first.
bool IsFurtherVolume(const QString &path);
