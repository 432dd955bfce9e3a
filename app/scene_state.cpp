#include "scene_state.h"

SceneState sceneState;
