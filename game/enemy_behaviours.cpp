// The behaviour routines of the 23 ordinary enemy types and the behaviour table. t is the
// enemy's timer; "t mod n" routines take the timer's remainder at the start of the frame and
// raise it at the end; the first frame is the one with phase 255.
#include <cmath>

#include "game/enemies.h"
#include "game/game_math.h"
#include "game/stage_objects.h"

namespace {

// Marks the first frame done; true on the first frame.
bool FirstFrame(EnemyRecord& e) {
  if (e.phase != 255) return false;
  e.phase = 0;
  return true;
}

int TimerModulo(EnemyRecord& e, int n) {
  e.timer = static_cast<std::int16_t>(e.timer % n);
  return e.timer;
}

void Fire(EnemyRecord& e) { FireEnemyBullet(e, 0); }
void FireAt(EnemyRecord& e, double angle) { FireEnemyBulletAngle(e, 0, angle); }
void Stop(EnemyRecord& e) {
  e.body.vx = 0;
  e.body.vy = 0;
}
void AddVelocity(EnemyRecord& e, double theta, int speed) {
  e.body.vx = Wrap16(e.body.vx + TruncateToInt16(std::cos(theta) * speed));
  e.body.vy = Wrap16(e.body.vy + TruncateToInt16(std::sin(theta) * speed));
}
int ParamA(const EnemyRecord& e) { return TypeOf(e).paramA; }
int ParamB(const EnemyRecord& e) { return TypeOf(e).paramB; }

void DiagonalDasher(EnemyRecord& e) {
  FirstFrame(e);
  const int t = TimerModulo(e, 60);
  if (t == 0) {
    AddVelocity(e, e.body.y < game.player.body.y ? kQuarterPi : -kQuarterPi, ParamA(e));
  } else if (t == 40) {
    Stop(e);
  } else if (t == 50) {
    e.angle = kPi;
    Fire(e);
  } else if (t == 52 || t == 54 || t == 56 || t == 58) {
    Fire(e);
  }
  ++e.timer;
}

void AimedDasher(EnemyRecord& e) {
  FirstFrame(e);
  const int t = TimerModulo(e, 60);
  if (t == 0) {
    AddVelocity(e, AimAtPlayer(e), ParamA(e));
  } else if (t == 40) {
    Stop(e);
  } else if (t >= 50 && t <= 58 && t % 2 == 0) {
    if (t == 50) e.angle = AimAtPlayer(e) - kQuarterPi;
    e.angle += kTwelfthPi;
    Fire(e);
  }
  ++e.timer;
}

void SentryGun(EnemyRecord& e) {
  FirstFrame(e);
  if (TimerModulo(e, 30) == 20) {
    e.angle = AimAtPlayer(e);
    if (std::cos(e.angle) < -0.5) Fire(e);
  }
  ++e.timer;
}

void BurstTurret(EnemyRecord& e) {
  FirstFrame(e);
  const int t = TimerModulo(e, 50);
  if (t == 16) e.angle = AimAtPlayer(e);
  if (t == 16 || t == 20 || t == 24 || t == 28) Fire(e);
  ++e.timer;
}

void StrafingFlyer(EnemyRecord& e) {
  if (FirstFrame(e)) {
    SetVelocityAlong(e.body, kPi, ParamA(e));
    e.phase = 1;
  }
  const int t = TimerModulo(e, 60);
  if (t == 20) {
    e.angle = kPi;
    Fire(e);
  } else if (t == 24 || t == 28) {
    Fire(e);
  } else if (t == 40) {
    e.angle = kFiveQuartersPi;
    Fire(e);
  } else if (t == 44 || t == 48) {
    Fire(e);
  }
  ++e.timer;
}

void Passive(EnemyRecord& e) { FirstFrame(e); }

void Retaliator(EnemyRecord& e) {
  FirstFrame(e);
  if (e.hp <= 0) {
    e.angle = kSixteenthPi;
    for (int i = 0; i < 16; ++i) {
      FireEnemyBullet(e, 1);
      e.angle += kEighthPi;
    }
    ClearEnemy(e);
    return;
  }
  if (e.timer == 0) {
    e.angle = kSixteenthPi;
    e.timer = 1;
  }
  while (e.hits > 0) {
    FireEnemyBullet(e, 1);
    e.angle += kPi;
    FireEnemyBullet(e, 1);
    e.angle += kPi;
    e.angle -= kTwoPi;
    --e.hits;
    e.angle += kEighthPi;
  }
}

void Bomber(EnemyRecord& e) {
  if (FirstFrame(e)) {
    e.angle = kHalfPi;
    SetVelocityAlong(e.body, kPi, ParamA(e));
  }
  FireEnemyBullet(e, 2);
}

double OrbitAngle(int u, double angle) { return u * kPi * (1.0 / 128) + angle; }

void Orbiter(EnemyRecord& e) {
  if (FirstFrame(e)) {
    e.angle = e.timer * kTwoPi / 360;
    e.timer = -1;
  } else if (e.phase == 0) {
    if (e.timer == -1) SetVelocityAlong(e.body, e.angle, 48);
    if (++e.timer == 20) {
      Stop(e);
      e.phase = 1;
      e.timer = 0;
    }
  } else if (e.phase == 1) {
    const int u = e.timer;
    const double theta = OrbitAngle(u, e.angle);
    e.body.x = Wrap16(e.body.x + TruncateToInt16(std::cos(theta) * 64 * -16));
    e.body.y = Wrap16(e.body.y + TruncateToInt16(std::sin(theta) * 64 * -16));
    const int next = (u + 1) % 1024;
    e.timer = static_cast<std::int16_t>(next);
    if (WorldColumn(e.body) > game.goalColumn) {
      ClearEnemy(e);
      return;
    }
    const double nextTheta = OrbitAngle(next, e.angle);
    e.body.x = Wrap16(e.body.x - TruncateToInt16(std::cos(nextTheta) * 64 * -16));
    e.body.y = Wrap16(e.body.y + TruncateToInt16(std::sin(nextTheta) * 64 * 16));
    if (next % 8 == 0) FireAt(e, nextTheta - next * kPi * (1.0 / 512));
  }
  if (game.bossCounter <= 0) ClearEnemy(e);
}

void CornerTurret(EnemyRecord& e) {
  FirstFrame(e);
  const int t = TimerModulo(e, 80);
  if (t == 40 || t == 70) {
    const int k = (e.body.y > 3840 ? 1 : -1) * (e.body.x <= 5120 ? 3 : 1);
    e.angle = (k + 4) * kPi * 0.25;
    FireEnemyBullet(e, 1);
  }
  ++e.timer;
}

void SpiralBloom(EnemyRecord& e) {
  if (FirstFrame(e)) e.timer = 0;
  if (e.phase == 0) {
    ++e.timer;
    e.body.last = static_cast<std::uint8_t>(e.timer / 20);
    if (e.timer == 120) {
      e.timer = 0;
      e.phase = 1;
    }
  } else if (e.phase == 1) {
    if (++e.timer % 4 == 0) {
      for (int i = 0; i < 3; ++i) FireEnemyBulletAngle(e, 1, i * kPi * 2 / 3 + e.angle);
      e.angle += kTwelfthPi;
    }
  }
}

void CrossSpinner(EnemyRecord& e) {
  if (FirstFrame(e)) {
    e.angle = kEighthPi;
    if (e.carriedItem != kNoItem) e.body.last = 1;
  }
  if (++e.timer == 20) {
    for (int i = 0; i < 4; ++i) FireEnemyBulletAngle(e, 1, i * kPi * 0.5 + e.angle);
    e.angle += kQuarterPi;
  }
  e.timer = static_cast<std::int16_t>(e.timer % 20);
}

void OrbitGuard(EnemyRecord& e) {
  if (FirstFrame(e)) {
    e.body.x = 9216;
    e.body.y = 2816;
    e.timer = -1;
  }
  if (e.phase == 0) {
    MoveEnemyToward(e, 9216, 3840, ParamA(e));
  } else if (e.phase == 1) {
    ++e.timer;
    const float phi = static_cast<float>(e.timer * kPi * (1.0 / 64));
    const float sine = static_cast<float>(std::sin(static_cast<double>(phi)));
    const float cosine = static_cast<float>(std::cos(static_cast<double>(phi)));
    e.body.x = TruncateToInt16(9216 - 1024 * static_cast<double>(sine));
    e.body.y = TruncateToInt16(1024 * static_cast<double>(cosine) + 2816);
  }
  if (e.timer >= 384 || game.bossCounter <= 0) {
    e.body.kind = 4;
    e.phase = 255;
    e.timer = -1;
    e.hp = tables.enemies[4].hp;
  }
}

void Brick(EnemyRecord& e) {
  if (FirstFrame(e) && e.timer != 0) {
    SpawnStep(e);
    ClearEnemy(e);
  }
}

void FleetingTarget(EnemyRecord& e) {
  if (FirstFrame(e)) e.timer = 0;
  if (e.phase == 0) {
    ++e.timer;
    e.body.last = static_cast<std::uint8_t>(e.timer / 20);
    if (e.timer == 120) e.body.x = -1024;
  }
}

void Dropper(EnemyRecord& e) {
  if (FirstFrame(e)) SetVelocityAlong(e.body, kHalfPi, ParamA(e));
  if (e.phase == 0 && game.player.body.y <= e.body.y) {
    SetVelocityAlong(e.body, kPi, ParamB(e));
    e.phase = 1;
  }
}

void Homer(EnemyRecord& e) {
  if (FirstFrame(e)) e.angle = e.timer * kPi / 180;
  SetVelocityAlong(e.body, AimAtPlayer(e) + e.angle, ParamA(e));
}

void Bouncer(EnemyRecord& e) {
  GameBody& b = e.body;
  if (FirstFrame(e)) SetVelocityAlong(b, e.timer * kPi * (1.0 / 128), ParamA(e));
  if (Wrap16(b.left * 16 + b.x + b.vx) < 0 || Wrap16(b.right * 16 + b.x + b.vx) > 10240)
    b.vx = Wrap16(-b.vx);
  if (Wrap16(b.top * 16 + b.y + b.vy) < 0 || Wrap16(b.bottom * 16 + b.y + b.vy) > 7680)
    b.vy = Wrap16(-b.vy);
  if (game.bossCounter <= 0) ClearEnemy(e);
}

// Types 19 and 20: the speed ramps from A to B over 60 frames, then a volley and the end.
bool Seed(EnemyRecord& e) {
  if (FirstFrame(e)) {
    e.angle = e.timer * kPi / 180;
    e.timer = -1;
  }
  ++e.timer;
  const int speed = (ParamA(e) * (60 - e.timer) + ParamB(e) * e.timer) / 60;
  SetVelocityAlong(e.body, e.angle, speed);
  return e.timer == 60;
}

void ThreeWaySeed(EnemyRecord& e) {
  if (!Seed(e)) return;
  for (int i = 0; i < 3; ++i) FireAt(e, e.angle + (i - 1) * kTwelfthPi);
  ClearEnemy(e);
}

void RingSeed(EnemyRecord& e) {
  if (!Seed(e)) return;
  for (int k = -1; k <= 21; k += 2) FireAt(e, e.angle + k * kTwelfthPi);
  ClearEnemy(e);
}

void HoppingGunner(EnemyRecord& e) {
  if (FirstFrame(e)) e.angle = kNineEighthsPi;
  if (++e.timer % 8 == 0) {
    if (e.timer == 24)
      SetVelocityAlong(e.body, kThreeHalfPi, ParamA(e));
    else
      Fire(e);
  }
  e.timer = static_cast<std::int16_t>(e.timer % 48);
}

void ArmouredPusher(EnemyRecord& e) {
  FirstFrame(e);
  if (e.hits > 0) {
    e.body.x = Wrap16(e.body.x + e.hits * 64);
    e.hits = 0;
  }
  ++e.timer;
  if (e.timer % 8 == 0 && e.timer <= 32) {
    for (int i = 0; i < 4; ++i) FireEnemyBulletAngle(e, 1, i * kHalfPi + e.angle);
    e.angle += kEighthPi;
  }
  e.timer = static_cast<std::int16_t>(e.timer % 48);
}

}  // namespace

const std::array<EnemyBehaviour, kEnemyTypeCount> EnemyBehaviourTable = {
    DiagonalDasher, AimedDasher,    SentryGun,      BurstTurret,    StrafingFlyer,  Passive,
    Retaliator,     Bomber,         Orbiter,        CornerTurret,   SpiralBloom,    CrossSpinner,
    OrbitGuard,     Brick,          Passive,        FleetingTarget, Dropper,        Homer,
    Bouncer,        ThreeWaySeed,   RingSeed,       HoppingGunner,  ArmouredPusher, BossBehaviour0,
    BossBehaviour1, BossBehaviour2, BossBehaviour3,
};
