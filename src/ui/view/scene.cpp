#include "ui/view/scene.h"

namespace qd {

void ClearPicture(QImage&, const SceneStyle&) {}
void DrawParticles(QImage&, SimState&, const SceneStyle&) {}
void DrawFigure(QImage&, SimState&, const SceneStyle&) {}

}  // namespace qd
