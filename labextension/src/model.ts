// What the panel and the status item show, kept in one place: the list, the
// joined workspace, the last failure and whether a request is running.
import { ISignal, Signal } from '@lumino/signaling';

import { Failure, Workspace, ZorvikClient } from './api';

/** How a change came about: the user's own action, or a refresh in the background. */
export type Origin = 'user' | 'refresh';

export class WorkspacesModel {
  constructor(private readonly client: ZorvikClient) {}

  /** Null until listed once. */
  get workspaces(): readonly Workspace[] | null {
    return this._workspaces;
  }

  get joined(): Workspace | null {
    return this._workspaces?.find(w => w.current) ?? null;
  }

  /** The text of the last failure, null once a request went through. */
  get error(): string | null {
    return this._error;
  }

  get busy(): boolean {
    return this._busy;
  }

  /** Emitted after every change of the above. */
  get changed(): ISignal<this, void> {
    return this._changed;
  }

  /** Emitted with the text of each failure of the user's own actions. */
  get failed(): ISignal<this, string> {
    return this._failed;
  }

  /** Lists the workspaces again. A refresh in the background does not
   * notify its failure, it only shows it. */
  reload(origin: Origin = 'user'): Promise<void> {
    return this.run(async () => {
      try {
        this._workspaces = await this.client.list();
        this._error = null;
      } catch (e) {
        this.fail(e, origin);
      }
    }, origin);
  }

  /** Joins the workspace of these digits; null leaves the joined one. */
  join(digits: string | null): Promise<void> {
    return this.run(async () => {
      let failed = false;
      try {
        await this.client.join(digits);
        this._error = null;
      } catch (e) {
        this.fail(e, 'user');
        failed = true;
      }
      // Listed again after a failure too: the platform may have changed (a
      // workspace deleted, a change that went through after a time-out).
      try {
        this._workspaces = await this.client.list();
      } catch (e) {
        if (!failed) {
          this.fail(e, 'user');
        }
      }
    }, 'user');
  }

  leave(): Promise<void> {
    return this.join(null);
  }

  private fail(e: unknown, origin: Origin): void {
    this._error = e instanceof Failure ? e.text : String(e);
    if (origin === 'user') {
      this._failed.emit(this._error);
    }
  }

  // One request at a time. A refresh while one runs is dropped (that one
  // brings the news); the user's actions wait their turn.
  private run(action: () => Promise<void>, origin: Origin): Promise<void> {
    if (origin === 'refresh' && this._pending > 0) {
      return this._queue;
    }
    this._pending++;
    this._queue = this._queue.then(async () => {
      this._busy = true;
      this._changed.emit();
      try {
        await action();
      } finally {
        this._pending--;
        this._busy = this._pending > 0;
        this._changed.emit();
      }
    });
    return this._queue;
  }

  private _workspaces: Workspace[] | null = null;
  private _error: string | null = null;
  private _busy = false;
  private _pending = 0;
  private _queue: Promise<void> = Promise.resolve();
  private readonly _changed = new Signal<this, void>(this);
  private readonly _failed = new Signal<this, string>(this);
}
