import { Workspace } from './api';

/** The joinable workspaces by the name the picker shows, in the list's
 * order; names that several share get their ids, so that each says which. */
export function choices(workspaces: readonly Workspace[]): Map<string, string> {
  const joinable = workspaces.filter(w => w.id.digits !== null && !w.current);
  const counts = new Map<string, number>();
  for (const w of joinable) {
    counts.set(w.label, (counts.get(w.label) ?? 0) + 1);
  }
  const offered = new Map<string, string>();
  for (const w of joinable) {
    const digits = w.id.digits as string;
    offered.set(counts.get(w.label)! > 1 ? `${w.label} (id ${digits})` : w.label, digits);
  }
  return offered;
}
