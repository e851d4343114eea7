// The Zorvik workspaces API route as the extension sees it: the list with
// ids kept exact, joining and leaving, and the texts of its failures.

// Ids are JSON integers of any size. A JavaScript number keeps only those up
// to 2**53 exactly, so an id is kept as the digits of the API's text, which
// JSON.parse hands a reviver where the browser supports it. Without that,
// only ids that a number holds exactly can be joined.
const INTEGER = /^-?(?:0|[1-9][0-9]*)$/;

export type Parse = (text: string, reviver?: (this: any, key: string, value: any, context?: any) => any) => any;

/** Whether this parse hands revivers the source text of numbers. */
export function readsSourceText(parse: Parse): boolean {
  const big = '12345678901234567890123';
  try {
    return parse(big, (_key, _value, context) => Boolean(context) && context.source === big) === true;
  } catch (e) {
    return false;
  }
}

/** A workspace's id: its digits as the API wrote them, or null with the
 * reason why it cannot be joined here. */
export class WorkspaceId {
  constructor(
    readonly digits: string | null,
    readonly reason: string | null
  ) {}
}

export interface Workspace {
  id: WorkspaceId;
  /** Whether the platform gave it a name that shows. */
  named: boolean;
  /** How the extension calls it: an unnamed one by its id. */
  label: string;
  current: boolean;
}

/** A failed call: status 0 when there was no HTTP answer at all. */
export class Failure extends Error {
  constructor(
    readonly status: number,
    message: string
  ) {
    super(message);
  }

  /** The text the user is shown. */
  get text(): string {
    return this.status ? `Error ${this.status}: ${this.message}` : this.message;
  }
}

const NOT_EXACT = 'This browser cannot read its id exactly, so it cannot be joined here.';
const NOT_WHOLE = 'Its id is not a whole number, so it cannot be joined here.';
const NO_ID = 'It has no id, so it cannot be joined here.';

/** Reads an API answer, each "id" number as a WorkspaceId. Throws on text
 * that is not JSON. */
export function readAnswer(text: string, parse: Parse = JSON.parse): unknown {
  const sourceText = readsSourceText(parse);
  return parse(text, (key, value, context) => {
    if (key !== 'id' || typeof value !== 'number') {
      return value;
    }
    const digits = sourceText ? context.source : Number.isSafeInteger(value) ? String(value) : null;
    if (digits !== null && INTEGER.test(digits)) {
      return new WorkspaceId(digits, null);
    }
    // Without the text, a number too large to be exact (or finite) may still
    // have been a whole one.
    if (!sourceText && (Number.isInteger(value) || !Number.isFinite(value))) {
      return new WorkspaceId(null, NOT_EXACT);
    }
    return new WorkspaceId(null, NOT_WHOLE);
  });
}

/** What the extension knows of one listed workspace. */
export function workspaceOf(item: Record<string, unknown>): Workspace {
  const id = item.id instanceof WorkspaceId ? item.id : new WorkspaceId(null, NO_ID);
  const named = typeof item.name === 'string' && item.name.trim() !== '';
  return {
    id,
    named,
    label: named
      ? (item.name as string)
      : 'Unnamed workspace' + (id.digits !== null ? ` (id ${id.digits})` : ''),
    current: item.current === true
  };
}

// Our answers carry "error"; the route's 400 for a bad body "message".
function describe(data: unknown): string | null {
  if (data !== null && typeof data === 'object') {
    for (const key of ['error', 'message']) {
      const text = (data as Record<string, unknown>)[key];
      if (typeof text === 'string' && text) {
        return text;
      }
    }
  }
  return null;
}

/** Sends one request: the server connection's makeRequest in the extension
 * (token, XSRF, base URL), a stand-in in the tests. */
export type Send = (url: string, init: RequestInit) => Promise<Response>;

export class ZorvikClient {
  /** url: the API route's full address. */
  constructor(
    private readonly send: Send,
    private readonly url: string,
    private readonly parse: Parse = JSON.parse
  ) {}

  async list(): Promise<Workspace[]> {
    const items = await this.call({ method: 'GET' });
    if (!Array.isArray(items) || !items.every(item => item !== null && typeof item === 'object')) {
      throw new Failure(0, "The server's answer is not a list of workspaces.");
    }
    return items.map(workspaceOf);
  }

  /** Joins the workspace of these digits; null leaves the joined one. */
  async join(digits: string | null): Promise<void> {
    if (digits !== null && !INTEGER.test(digits)) {
      throw new Failure(0, NOT_WHOLE);
    }
    // The digits go into the JSON text as they are, so that no number rounds them.
    await this.call({
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: `{"workspace_id": ${digits === null ? 'null' : digits}}`
    });
  }

  private async call(init: RequestInit): Promise<unknown> {
    let response: Response;
    let text: string;
    try {
      response = await this.send(this.url, init);
      text = await response.text();
    } catch (e) {
      throw new Failure(0, 'The notebook server did not answer.');
    }
    let data: unknown = null;
    try {
      data = readAnswer(text, this.parse);
    } catch (e) {
      // Not JSON (a proxy's error page, say): the status alone tells.
    }
    if (!response.ok) {
      throw new Failure(response.status, describe(data) || response.statusText || 'The request failed.');
    }
    return data;
  }
}
