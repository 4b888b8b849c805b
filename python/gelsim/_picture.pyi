# Types of the picture module (private: World.picture calls it).
from typing import Optional, Tuple

def world_png(width: int, height: int, center: Optional[Tuple[float, float]], zoom: Optional[float], rotation: float,
              background: Tuple[int, int, int]) -> bytes: ...
